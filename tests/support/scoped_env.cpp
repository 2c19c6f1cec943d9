#include "scoped_env.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include "common/text.h"
#endif

namespace volok::testing {

namespace {

std::optional<std::string> Get(const std::string& name) {
#ifdef _WIN32
  std::u16string wide = Utf8ToUtf16(name);
  wchar_t buffer[32768];
  DWORD length = GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wide.c_str()), buffer, 32768);
  if (length == 0 || length >= 32768) return std::nullopt;
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
#else
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
#endif
}

void Set(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  std::u16string wide = Utf8ToUtf16(name);
  std::u16string wide_value = value ? Utf8ToUtf16(*value) : std::u16string();
  SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                          value ? reinterpret_cast<const wchar_t*>(wide_value.c_str()) : nullptr);
#else
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
#endif
}

#ifdef _WIN32
constexpr const char* kTempVariables[] = {"TMP", "TEMP"};
std::string NativeText(const std::filesystem::path& folder) {
  return Utf16ToUtf8(folder.u16string());
}
#else
constexpr const char* kTempVariables[] = {"TMPDIR"};
std::string NativeText(const std::filesystem::path& folder) { return folder.string(); }
#endif

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : FName(std::move(name)), FSaved(Get(FName)) {
  Set(FName, value);
}

ScopedEnv::~ScopedEnv() { Set(FName, FSaved); }

ScopedTempFolder::ScopedTempFolder(const std::filesystem::path& folder) {
  for (const char* name : kTempVariables) FVariables.push_back(std::make_unique<ScopedEnv>(name, NativeText(folder)));
}

}  // namespace volok::testing
