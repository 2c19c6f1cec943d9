// The program's entry in the Windows list of installed programs. Neither
// operation ever fails the run: every registry failure is absorbed.
#include <ctime>

#include "common/file_utils.h"
#include "common/log_writer.h"
#include "engine/installer_thread.h"
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

}  // namespace

std::string RegistrationKey(const TInstall& install) {
  return "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + install.ShortName();
}

void TInstallerThread::RegistryUnInstall() {
  const TInstall& install = *FInstall;
  Registry& registry = Registry::Default();
  const RegistryRoot root = RegistryRoot::LocalMachine;
  const std::string key = RegistrationKey(install);
  if (!registry.CreateKey(root, key).ok()) return;
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
  for (const char* name : {"NoModify", "NoRepair"}) {
    platform::RegistryValue value;
    value.Type = platform::RegistryType::Dword;
    value.Number = 1;
    values.push_back({name, value});
  }
  (void)registry.SetValues(root, key, values);
}

std::string TInstallerThread::RegisteredLocation() const {
  platform::RegistryValue value;
  if (!Registry::Default().ReadValue(RegistryRoot::LocalMachine, RegistrationKey(*FInstall), "InstallLocation", value).ok())
    return {};
  return value.Type == platform::RegistryType::String ? value.Text : std::string();
}

void TInstallerThread::RegistryUnInstallDelete() {
  (void)Registry::Default().DeleteKeyTree(RegistryRoot::LocalMachine, RegistrationKey(*FInstall));
}

}  // namespace volok
