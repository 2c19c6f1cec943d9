// Environment and current folder changed for one test and put back after it,
// so a test can point the temporary folder at a scratch folder of its own.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace volok::testing {

class ScopedEnv final {
 public:
  // Sets `name` to `value` (UTF-8) for the process.
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FSaved;
};

// The temporary folder the code under test sees, pointed at `folder` (a
// native path): TMPDIR natively, TMP and TEMP on Windows.
class ScopedTempFolder final {
 public:
  explicit ScopedTempFolder(const std::filesystem::path& folder);

 private:
  std::vector<std::unique_ptr<ScopedEnv>> FVariables;
};

class ScopedCurrentFolder final {
 public:
  explicit ScopedCurrentFolder(const std::filesystem::path& folder)
      : FSaved(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedCurrentFolder() { std::filesystem::current_path(FSaved); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::filesystem::path FSaved;
};

}  // namespace volok::testing
