// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace volok::testing {

class TempFolder final {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder as the code under test sees it: a Windows path without a
  // trailing backslash ("Z:\tmp\volok-…" natively, "C:\users\…" under Wine).
  const std::string& Path() const { return FPath; }
  // Path() + "\" + name.
  std::string File(const std::string& name) const { return FPath + "\\" + name; }
  const std::filesystem::path& NativePath() const { return FNative; }
  std::filesystem::path Native(const std::string& name) const;
  // Any Windows path of the code under test as a path for std::filesystem.
  static std::filesystem::path NativeOf(const std::string& windows_path);

 private:
  std::filesystem::path FNative;
  std::string FPath;
};

// Whole-file helpers for checking results without the code under test.
std::string ReadNative(const std::filesystem::path& path);
void WriteNative(const std::filesystem::path& path, const std::string& bytes);

}  // namespace volok::testing
