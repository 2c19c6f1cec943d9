// What the end-to-end scripts cannot read by themselves, read with the
// engine's own routines and printed as UTF-8 (Wine's own tools print the
// console's code page, which loses Cyrillic text):
//
//   e2e_tool decrypt <file>                 the text inside a description file
//   e2e_tool encrypt <text file> <file>     writes the text as a description file
//   e2e_tool reg <root> <key> <name>...     one line per value: name=text,
//                                           name=dword:<n> or name=<missing>
//   e2e_tool key <root> <key>               exit code 0 when the key exists
//   e2e_tool hold <file> <seconds>          holds the file open as a program
//                                           does (Windows: sharing reads only),
//                                           prints "held", ends when standard
//                                           input ends or after <seconds>
//   e2e_tool seal <engine> <package folder> copies the bare engine as the
//                                           package's setup.exe, sealed with
//                                           the manifest of setup.xml and
//                                           every other file there, as a
//                                           publisher's build would
//
// Roots are HKLM, HKCU, HKCR, HKU, HKCC. Exit code 2 on a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "builder/engine_image.h"
#include "common/crypt.h"
#include "common/file_digest.h"
#include "common/package_manifest.h"
#include "common/error.h"
#include "common/text_file.h"
#include "platform/registry.h"

namespace {

using volok::platform::Registry;
using volok::platform::RegistryRoot;
using volok::platform::RegistryType;
using volok::platform::RegistryValue;

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

bool ParseRoot(const std::string& name, RegistryRoot& root) {
  static const struct {
    const char* Name;
    RegistryRoot Root;
  } kRoots[] = {{"HKLM", RegistryRoot::LocalMachine}, {"HKCU", RegistryRoot::CurrentUser},
                {"HKCR", RegistryRoot::ClassesRoot},  {"HKU", RegistryRoot::Users},
                {"HKCC", RegistryRoot::CurrentConfig}};
  for (const auto& row : kRoots) {
    if (name == row.Name) {
      root = row.Root;
      return true;
    }
  }
  return false;
}

// Files are read and written as bytes here, so the tool takes host paths
// whatever the platform layer's path mapping; the bytes are decoded as the
// engine decodes a description file.
bool ReadBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int Decrypt(const std::string& path) {
  std::string bytes;
  if (!ReadBytes(path, bytes)) return 1;
  try {
    Print(volok::DecryptText(volok::DecodeText(bytes)));
  } catch (const volok::Error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}

// The container is ASCII, so its bytes are those the engine writes in UTF-8.
int Encrypt(const std::string& text_path, const std::string& path) {
  std::string text;
  if (!ReadBytes(text_path, text)) return 1;
  std::string container = volok::EncryptText(text);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(container.data(), static_cast<std::streamsize>(container.size()));
  return out.good() ? 0 : 1;
}

int Values(RegistryRoot root, const std::string& key, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    RegistryValue value;
    if (!Registry::Default().ReadValue(root, key, name, value).ok())
      Print(name + "=<missing>\n");
    else if (value.Type == RegistryType::Dword)
      Print(name + "=dword:" + std::to_string(value.Number) + "\n");
    else
      Print(name + "=" + value.Text + "\n");
  }
  return 0;
}

int KeyExists(RegistryRoot root, const std::string& key) {
  std::vector<std::string> names;
  return Registry::Default().SubKeys(root, key, names).ok() ? 0 : 1;
}

// Returns when standard input ends (the script lets go) or after `ms`.
void WaitForInput(unsigned long long ms) {
  std::thread([ms] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::_Exit(0);
  }).detach();
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
}

// A program that holds a file: a handle that lets others read it only, so
// Windows refuses to rename, replace or delete it while it lasts.
int Hold(const std::string& path, const std::string& seconds) {
  const unsigned long long ms = std::stoull(seconds) * 1000;
#ifdef _WIN32
  // The path as the system passed it: main's arguments are in the ANSI code
  // page, which cannot hold every name.
  (void)path;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide || count < 3) return 2;
  HANDLE file = CreateFileW(wide[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LocalFree(wide);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  WaitForInput(ms);
  CloseHandle(file);
#else
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  WaitForInput(ms);
  ::close(fd);
#endif
  return 0;
}

int Seal(const std::string& engine, const std::string& folder) {
  namespace fs = std::filesystem;
  volok::TPackageManifest manifest;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(item.path(), folder).generic_string();
    if (!item.is_regular_file() || name == "setup.exe" ||
        (name.size() > 4 && name.substr(name.size() - 4) == ".log"))
      continue;
    for (char& c : name)
      if (c == '/') c = '\\';
    volok::TFileDigest digest = volok::BytesDigest(volok::ReadFileBytes(item.path().string()));
    volok::TManifestEntry entry;
    entry.Name = name;
    entry.Size = digest.Size;
    entry.Sha256 = digest.Sha256;
    manifest.Entries.push_back(entry);
  }
  const std::string target = (fs::path(folder) / "setup.exe").string();
  fs::copy_file(engine, target, fs::copy_options::overwrite_existing);
  volok::SealEngine(target, volok::WriteManifest(manifest));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the bytes as they are, no CR added
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "decrypt") return Decrypt(args[1]);
  if (args.size() == 3 && args[0] == "encrypt") return Encrypt(args[1], args[2]);
  if (args.size() == 3 && args[0] == "seal") {
    try {
      return Seal(args[1], args[2]);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s\n", error.what());
      return 1;
    }
  }
  RegistryRoot root;
  if (args.size() >= 4 && args[0] == "reg" && ParseRoot(args[1], root))
    return Values(root, args[2], {args.begin() + 3, args.end()});
  if (args.size() == 3 && args[0] == "key" && ParseRoot(args[1], root)) return KeyExists(root, args[2]);
  if (args.size() == 3 && args[0] == "hold") return Hold(args[1], args[2]);
  std::fprintf(stderr,
               "usage: e2e_tool decrypt <file> | encrypt <text file> <file> | reg <root> <key> <name>... | "
               "key <root> <key> | hold <file> <seconds> | seal <engine> <folder>\n");
  return 2;
}
