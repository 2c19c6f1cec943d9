// The commands that act outside the file tree: programs, shortcuts, the
// registry.
#include "engine/system_commands.h"

#include <cstdlib>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/process_utils.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "model/install_file.h"
#include "model/string_list.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace volok {

namespace {


struct RootName {
  const char* Name;
  std::uint32_t Key;
};

constexpr RootName kRoots[] = {
    {"HKLM", 0x80000002}, {"HKEY_LOCAL_MACHINE", 0x80000002}, {"HKCU", 0x80000001},
    {"HKEY_CURRENT_USER", 0x80000001}, {"HKCR", 0x80000000}, {"HKEY_CLASSES_ROOT", 0x80000000},
    {"HKU", 0x80000003}, {"HKEY_USERS", 0x80000003}, {"HKCC", 0x80000005}, {"HKEY_CURRENT_CONFIG", 0x80000005},
};

std::string TrimBlanks(const std::string& text) {
  size_t begin = text.find_first_not_of(' '), end = text.find_last_not_of(' ');
  return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::uint32_t RegistryRootByName(const std::string& name) {
  std::string wanted = UpperCase(TrimBlanks(name));
  for (const RootName& root : kRoots)
    if (wanted == root.Name) return root.Key;
  return 0;
}

int RegistryTypeByName(const std::string& name) {
  std::string wanted = UpperCase(TrimBlanks(name));
  if (wanted == "STRING") return 1;
  if (wanted == "DWORD") return 4;
  return 0;
}

std::uint32_t RegistryDwordValue(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= 32) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  std::string rest = text.substr(pos);
  bool hex = false;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    hex = true;
    rest.erase(0, 1);
  } else if (rest.size() > 1 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    hex = true;
    rest.erase(0, 2);
  }
  if (rest.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : rest) {
    int digit = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return 0;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    // A number the value cannot hold is no number.
    if (value > 0xFFFFFFFFull) return 0;
  }
  if (negative && value > 0x80000000ull) return 0;
  return negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value))
                  : static_cast<std::uint32_t>(value);
}

TInstallReg ParseRegistryEntry(const TInstallFile& entry) {
  TInstallReg request;
  size_t slash = entry.FileName().find('\\');
  if (slash != std::string::npos) {
    request.Root = RegistryRootByName(entry.FileName().substr(0, slash));
    request.Key = TrimBlanks(entry.FileName().substr(slash + 1));
  }
  TStringList items;
  items.SetDelimitedText(entry.Destination());
  if (items.Count() >= 1) request.ValueName = items[0];
  if (items.Count() >= 2) request.ValueType = RegistryTypeByName(items[1]);
  if (items.Count() >= 3) request.Value = items[2];
  return request;
}

TLinkTarget SplitLinkTarget(const std::string& text) {
  TLinkTarget target;
  target.Program = text;
  size_t first = text.find('"');
  if (first != std::string::npos) {
    std::string rest = text.substr(first + 1);
    size_t second = rest.find('"');
    if (second != std::string::npos) {
      target.Arguments = TrimBlanks(rest.substr(second + 1));
      target.Program = rest.substr(0, second);
    } else {
      target.Program = rest;
    }
  }
  target.WorkingFolder = ExtractFilePath(target.Program);
  return target;
}

void CreateShellLink(const std::string& link_path, const std::string& target_text) {
  TLinkTarget target = SplitLinkTarget(target_text);
  (void)ForceFolders(ExtractFilePath(link_path));
  bool saved = false;
  volok::ThrowIfFailed(platform::Shell::Default().CreateShellLink(link_path, target.Program, target.Arguments,
                                                            target.WorkingFolder, saved));
}

void TInstallerThread::RunCommand(TInstallFile& file) {
  DoMessage("[Run] Запуск файла на выполнение: " + file.FileName(), kMessageTrace, false);
  std::string failure = LaunchProgram(file.FileName(), file.Destination());
  // A program that never started is an install that did not do its work.
  if (!failure.empty()) throw volok::Error("[Run] Не удалось запустить программу: " + file.FileName() + ". " + failure);
}

void TInstallerThread::RunWaitCommand(TInstallFile& file) {
  DoMessage("[RunWait] Запуск файла на выполнение с ожиданием завершения: " + file.FileName(), kMessageTrace, false);
  TProgramOutcome outcome = RunProgramAndWaitOutcome(file.FileName(), file.Destination(), kInfinite);
  if (!outcome.Started)
    throw volok::Error("[RunWait] Не удалось запустить программу: " + file.FileName() + ". " + outcome.Failure);
  std::string code = std::to_string(outcome.ExitCode);
  if (outcome.ExitCode == 0) {
    DoMessage("[RunWait] Программа завершилась с кодом 0: " + file.FileName(), kMessageTrace, false);
    return;
  }
  // Installers of components often end with codes that mean success ("3010:
  // restart needed"); only a description that asks for it fails the run.
  std::string text = "[RunWait] Программа завершилась с кодом " + code + ": " + file.FileName();
  if (file.ExitCodes().empty()) {
    DoMessage(text, kMessageWarning, false);
    return;
  }
  TStringList accepted;
  accepted.SetDelimitedText(file.ExitCodes());
  for (const std::string& item : accepted.Items())
    if (Trim(item) == code) {
      DoMessage(text, kMessageTrace, false);
      return;
    }
  throw volok::Error(text + ". Допустимые коды: " + file.ExitCodes() + ".");
}

void TInstallerThread::LinkCommand(TInstallFile& file) {
  DoMessage("[Link] Создание ярлыка: " + file.FileName(), kMessageTrace, false);
  JournalTarget(file.Destination());
  CreateShellLink(file.Destination(), file.FileName());
}

void TInstallerThread::ProcessTerminateCommand(TInstallFile& file) {
  DoMessage("[ProcessTerminate] Завершение процессса: " + file.FileName(), kMessageTrace, false);
  (void)TerminateProcessesByPath(file.FileName(), kInfinite);
}

void TInstallerThread::RegistryWriteCommand(TInstallFile& file) {
  DoMessage("[RegistryWrite] Запись в реестр: " + file.FileName(), kMessageTrace, false);
  platform::Status status = platform::Status::Ok();
  try {
    TInstallReg request = ParseRegistryEntry(file);
    if (request.Root == 0 || request.Key.empty()) return;
    auto root = static_cast<platform::RegistryRoot>(request.Root);
    auto& registry = platform::Registry::Default();
    status = registry.CreateKey(root, request.Key);
    if (!status.ok() || request.ValueName.empty()) {
    } else if (request.ValueType == 1) {
      status = registry.SetString(root, request.Key, request.ValueName, request.Value);
    } else if (request.ValueType == 4) {
      status = registry.SetDword(root, request.Key, request.ValueName, RegistryDwordValue(request.Value));
    }
  } catch (...) {
    status = platform::Status::Failure(CurrentExceptionMessage());
  }
  // A registry entry never stops the run, but its failure is not silent.
  if (!status.ok())
    DoMessage("[RegistryWrite] Не удалось записать в реестр: " + file.FileName() + ": " + status.message(),
              kMessageWarning, false);
}

void TInstallerThread::RegistryDeleteCommand(TInstallFile& file) {
  DoMessage("[RegistryDelete] Удаление из реестра: " + file.FileName(), kMessageTrace, false);
  platform::Status status = platform::Status::Ok();
  try {
    TInstallReg request = ParseRegistryEntry(file);
    if (request.Root == 0 || request.Key.empty()) return;
    auto root = static_cast<platform::RegistryRoot>(request.Root);
    auto& registry = platform::Registry::Default();
    platform::RegistryValue existing;
    if (request.ValueName.empty())
      status = registry.DeleteKeyTree(root, request.Key);
    else if (registry.ReadValue(root, request.Key, request.ValueName, existing).ok())
      status = registry.DeleteValue(root, request.Key, request.ValueName);  // what is gone already is no failure
  } catch (...) {
    status = platform::Status::Failure(CurrentExceptionMessage());
  }
  if (!status.ok())
    DoMessage("[RegistryDelete] Не удалось удалить из реестра: " + file.FileName() + ": " + status.message(),
              kMessageWarning, false);
}

}  // namespace volok
