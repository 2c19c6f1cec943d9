#include "temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace volok::testing {

namespace fs = std::filesystem;

namespace {

std::string ToWindowsPath(const fs::path& native) {
#ifdef _WIN32
  std::u16string wide(native.u16string());
  return Utf16ToUtf8(wide);
#else
  std::string result = "Z:";
  for (char c : native.string()) result += c == '/' ? '\\' : c;
  return result;
#endif
}

}  // namespace

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "volok-test-" << stamp << "-" << counter++;
  FNative = fs::temp_directory_path() / name.str();
  fs::create_directories(FNative);
  FNative = fs::canonical(FNative);
  FPath = ToWindowsPath(FNative);
  while (!FPath.empty() && FPath.back() == '\\') FPath.pop_back();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::permissions(FNative, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(FNative, ignored);
}

fs::path TempFolder::NativeOf(const std::string& windows_path) {
#ifdef _WIN32
  return fs::path(Utf8ToUtf16(windows_path));
#else
  std::string native = windows_path.size() >= 2 && (windows_path[0] == 'Z' || windows_path[0] == 'z') &&
                               windows_path[1] == ':'
                           ? windows_path.substr(2)
                           : windows_path;
  for (char& c : native)
    if (c == '\\') c = '/';
  return fs::path(native);
#endif
}

fs::path TempFolder::Native(const std::string& name) const {
  return FNative / fs::path(std::u8string(name.begin(), name.end()));
}

std::string ReadNative(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteNative(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace volok::testing
