// The thread body's two procedures: Install and UnInstall, with the rights
// test and the backup of an existing install folder.
#include <vector>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "engine/install_folder.h"
#include "engine/installer_thread.h"
#include "engine/upgrade_backup.h"
#include "platform/file_system.h"
#include "platform/security.h"

namespace volok {

namespace {

constexpr char kNoRights[] = "Недостаточно прав. Попробуйте запустить программу с правами администратора.";

}  // namespace

bool HasAdminRights(const std::string&) { return platform::Security::Default().IsAdministrator(); }

std::string TInstallerThread::CheckInstallFolder(const std::string& folder) const {
  std::vector<std::string> guarded = FVars.SystemFolders();
  guarded.push_back(ExeFolder());
  return ResolveInstallFolder(folder, guarded);
}

void TInstallerThread::Install() {
  TInstall& install = *FInstall;
  // Refused before the log moves there: the refusal is logged beside the engine.
  const std::string path = CheckInstallFolder(install.InstallPath());
  install.SetInstallPath(path);
  FVars.Add("InstallPath", path);
  const std::string folder = IncludeTrailingDelimiter(path);
  SetLogFileName(folder + "setup.log");
  if (!HasAdminRights("")) throw volok::Error(kNoRights);
  TUpgradeBackup backup(path);
  if (platform::FileSystem::Default().FolderExists(path)) backup.MoveAside();
  try {
    InstallEntries(folder);
  } catch (...) {
    std::string left = backup.Restore();
    if (!left.empty()) DoMessage(left, kMessageError, false);
    throw;
  }
  backup.Commit();
  DoMessage("[Install] Установка завершена.", kMessageDone, false);
}

void TInstallerThread::InstallEntries(const std::string& folder) {
  TInstall& install = *FInstall;
  const std::string path = ExcludeTrailingDelimiter(folder);
  if (!ForceFolders(path)) throw volok::Error("Невозможно создать папку для установки программы.");
  DoMessage("[Install] Установка программы в папку: \"" + path + "\"", kMessageTrace, false);
  ProgressStart(static_cast<int>(install.Install().size()) + 2);
  for (auto& entry : install.Install()) FVars.Process(*entry);
  for (auto& entry : install.Install()) {
    ProgressStep();
    if (FTerminated) throw volok::Error("Процесс установки прерван.");
    if (!entry->Check(install.Options())) continue;
    DoMessage("[Operation] " + entry->Name(), kMessageTrace, false);
    FInstallActions.Process(*entry);
  }
  for (auto& entry : install.UnInstall()) FVars.Process(*entry);
  install.SaveUnInstallXml(folder + "uninstall.xml");
  ProgressStep();
  (void)platform::FileSystem::Default().CopyFileOver(ExeFileName(), folder + "uninstall.exe");
  RegistryUnInstall();
  ProgressStep();
}

void TInstallerThread::UnInstall() {
  TInstall& install = *FInstall;
  DoMessage("[UnInstall] Удаление программы из папки: \"" + install.InstallPath() + "\"", kMessageTrace, false);
  if (!HasAdminRights("")) throw volok::Error(kNoRights);
  ProgressStart(static_cast<int>(install.UnInstall().size()) + 2);
  for (auto& entry : install.UnInstall()) {
    ProgressStep();
    if (FTerminated) throw volok::Error("Процесс удаления прерван.");
    DoMessage("[Operation] " + entry->Name(), kMessageTrace, false);
    FInstallActions.Process(*entry);
  }
  ProgressStep();
  RegistryUnInstallDelete();
  ProgressStep();
  DoMessage("[UnInstall] Удаление завершено.", kMessageDone, false);
}

}  // namespace volok
