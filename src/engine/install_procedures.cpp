// The thread body's two procedures: Install and UnInstall, with the rights
// test and the backup of an existing install folder.
#include <vector>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "engine/installer_thread.h"
#include "platform/file_system.h"
#include "platform/security.h"

namespace volok {

namespace {

constexpr char kNoRights[] = "Недостаточно прав. Попробуйте запустить программу с правами администратора.";

}  // namespace

bool HasAdminRights(const std::string&) { return platform::Security::Default().IsAdministrator(); }

void MoveToBackup(const std::string& folder, const std::string& backup_folder) {
  std::string from = IncludeTrailingDelimiter(folder);
  std::string to = IncludeTrailingDelimiter(backup_folder);
  auto& fs = platform::FileSystem::Default();
  if (fs.FolderExists(to)) (void)DeleteFolder(to, false);
  std::vector<platform::FileEntry> entries;
  if (!fs.ListFolder(from, entries).ok()) throw volok::Error("Невозможно создать каталог для резервного копирования.");
  for (const platform::FileEntry& entry : entries) {
    if (!ForceFolders(to)) continue;
    // A failed move leaves the entry where it is; the backup folder itself
    // cannot move into itself and stays too.
    (void)fs.MoveFileReplace(from + entry.Name, to + entry.Name);
  }
}

void TInstallerThread::Install() {
  TInstall& install = *FInstall;
  const std::string path = install.InstallPath();
  FVars.Add("InstallPath", ExcludeTrailingDelimiter(path));
  const std::string folder = IncludeTrailingDelimiter(path);
  SetLogFileName(folder + "setup.log");
  if (!HasAdminRights("")) throw volok::Error(kNoRights);
  if (platform::FileSystem::Default().FolderExists(path)) MoveToBackup(path, folder + "Backup\\");
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
  DoMessage("[Install] Установка завершена.", kMessageDone, false);
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
