// The program's entry in the Windows list of installed programs. The entry
// is the program's identity: its key (the short name) is what deployment
// tools call the product code, its InstallLocation says which copy is the
// installed one, and its DisplayVersion which version. A registration that
// cannot be written or removed fails the run, which then rolls back: an
// install that no tool can detect, or an uninstall that leaves its entry
// behind, is not a success.
#include <algorithm>
#include <ctime>

#include "common/error.h"
#include "common/file_utils.h"
#include "common/log_writer.h"
#include "common/path_identity.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace volok {

namespace {

using platform::Registry;
using platform::RegistryRoot;

std::string Today() {
  std::tm local = LocalNow();
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

bool IsBackupName(const std::string& name) {
  const std::string lower = LowerCase(name);
  return lower == "backup" || lower.rfind("backup.", 0) == 0;
}

// Bytes of the files below `folder`, links not followed (what they reach is
// not the program's).
std::uint64_t TreeSize(const std::string& folder, bool top) {
  std::vector<platform::FileEntry> entries;
  if (!platform::FileSystem::Default().ListFolder(folder, entries).ok()) return 0;
  std::uint64_t total = 0;
  for (const platform::FileEntry& entry : entries) {
    // The earlier version kept for a rollback is not part of this one.
    if (entry.IsLink || entry.IsSpecial || (top && entry.IsFolder && IsBackupName(entry.Name))) continue;
    total += entry.IsFolder ? TreeSize(IncludeTrailingDelimiter(folder) + entry.Name, false) : entry.Size;
  }
  return total;
}

platform::RegistryValue Dword(std::uint32_t number) {
  platform::RegistryValue value;
  value.Type = platform::RegistryType::Dword;
  value.Number = number;
  return value;
}

std::uint32_t VersionPart(std::int32_t part) { return part < 0 ? 0 : static_cast<std::uint32_t>(part); }

std::string ReadString(RegistryRoot root, const std::string& key, const char* name) {
  platform::RegistryValue value;
  if (!Registry::Default().ReadValue(root, key, name, value).ok()) return {};
  return value.Type == platform::RegistryType::String ? value.Text : std::string();
}

}  // namespace

std::string RegistrationKey(const TInstall& install) {
  return "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + install.ShortName();
}

std::uint32_t InstalledSizeKiB(const std::string& folder) {
  const std::uint64_t kib = (TreeSize(ExcludeTrailingDelimiter(folder), true) + 1023) / 1024;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(kib, 0xFFFFFFFFu));
}

void TInstallerThread::RegistryUnInstall() {
  const TInstall& install = *FInstall;
  Registry& registry = Registry::Default();
  const RegistryRoot root = RegistrationRoot();
  const std::string key = RegistrationKey(install);
  const std::string context = "[RegistryUnInstall] Не удалось зарегистрировать программу в списке установленных программ: ";
  platform::Status created = registry.CreateKey(root, key);
  if (!created.ok()) throw volok::Error(context + created.message());
  const std::string uninstaller = IncludeTrailingDelimiter(install.InstallPath()) + "uninstall.exe";
  // Quoted, so that a folder with blanks cannot make Windows start another
  // program from a prefix of the path.
  const std::string quoted = "\"" + uninstaller + "\"";
  const std::pair<const char*, std::string> strings[] = {
      {"DisplayIcon", uninstaller},
      {"DisplayName", install.Name()},
      {"DisplayVersion", VersionToStr(install.Version())},
      {"InstallDate", Today()},
      {"InstallLocation", install.InstallPath()},
      {"Publisher", install.Company()},
      {"UninstallString", quoted},
      {"QuietUninstallString", quoted + " silent"},
      {"HelpLink", install.URL()},
      {"URLInfoAbout", install.URL()},
      {"URLUpdateInfo", install.URL()},
  };
  // All values in one call: the native store writes them at once, and the
  // run's journal takes a half-written entry back on Windows.
  std::vector<platform::NamedRegistryValue> values;
  for (const auto& [name, text] : strings) {
    platform::RegistryValue value;
    value.Text = text;
    values.push_back({name, value});
  }
  values.push_back({"NoModify", Dword(1)});
  values.push_back({"NoRepair", Dword(1)});
  // What the Add/Remove list shows as the size, and the numeric version
  // that inventory tools read beside DisplayVersion.
  values.push_back({"EstimatedSize", Dword(InstalledSizeKiB(install.InstallPath()))});
  values.push_back({"VersionMajor", Dword(VersionPart(install.Version().Major))});
  values.push_back({"VersionMinor", Dword(VersionPart(install.Version().Minor))});
  platform::Status written = registry.SetValues(root, key, values);
  if (!written.ok()) throw volok::Error(context + written.message());
}

RegistryRoot TInstallerThread::RegistrationRoot() const {
  return FScope == TInstallScope::User ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
}

std::string TInstallerThread::RegisteredLocation() const {
  return ReadString(RegistrationRoot(), RegistrationKey(*FInstall), "InstallLocation");
}

bool TInstallerThread::RegisteredVersion(TVersion& version) const {
  return StrToVersion(Trim(ReadString(RegistrationRoot(), RegistrationKey(*FInstall), "DisplayVersion")), version) > 0;
}

bool TInstallerThread::RegistrationIsThisCopy() const {
  const std::string registered = RegisteredLocation();
  // A key without a location names no other copy: it is this program's.
  return Trim(registered).empty() || IsSameFolder(registered, FInstall->InstallPath());
}

std::string TInstallerThread::CheckRegisteredVersion() const {
  TVersion registered;
  if (!RegisteredVersion(registered)) return {};
  const TVersion& version = FInstall->Version();
  const std::string installed = VersionToStr(registered), installing = VersionToStr(version);
  const int order = CompareVersions(version, registered);
  if (order > 0) return "[Install] Обновление версии " + installed + " до версии " + installing + ".";
  if (order == 0) return "[Install] Версия " + installed + " уже установлена: установка выполняется повторно.";
  if (!FAllowDowngrade)
    throw volok::Error("Установлена более новая версия программы (" + installed + "), чем устанавливаемая (" +
                           installing + "). Чтобы установить более старую версию, запустите установку с параметром "
                           "/allowdowngrade.",
                       kExitNewerInstalled);
  return "[Install] Версия " + installed + " заменяется более старой версией " + installing + " (/allowdowngrade).";
}

void TInstallerThread::RegistryUnInstallDelete() {
  platform::Status deleted = Registry::Default().DeleteKeyTree(RegistrationRoot(), RegistrationKey(*FInstall));
  if (!deleted.ok())
    throw volok::Error("[RegistryUnInstallDelete] Не удалось удалить программу из списка установленных программ: " +
                       deleted.message());
}

}  // namespace volok
