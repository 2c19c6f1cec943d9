// The thread body's two procedures: Install and UnInstall, with the rights
// test and the backup of an existing install folder.
#include <algorithm>
#include <optional>
#include <vector>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/package_layout.h"
#include "common/text.h"
#include "engine/deferred_writes.h"
#include "engine/folder_ownership.h"
#include "engine/install_folder.h"
#include "engine/installer_thread.h"
#include "engine/run_recovery.h"
#include "platform/file_system.h"
#include "platform/protected_folders.h"
#include "platform/shell.h"
#include "platform/security.h"

namespace volok {

bool HasAdminRights(const std::string&) { return platform::Security::Default().IsAdministrator(); }

TGuardedFolders TInstallerThread::GuardedFolders() const {
  using platform::SpecialFolderId;
  TGuardedFolders guarded;
  guarded.Above = FVars.SystemFolders();
  guarded.Above.push_back(ExeFolder());
  platform::Shell& shell = platform::Shell::Default();
  for (SpecialFolderId id : {SpecialFolderId::Profile, SpecialFolderId::MyMusic, SpecialFolderId::MyVideo,
                             SpecialFolderId::ProgramFilesX86, SpecialFolderId::ProgramFilesCommonX86,
                             SpecialFolderId::CommonTemplates, SpecialFolderId::CommonMusic,
                             SpecialFolderId::CommonPictures, SpecialFolderId::CommonVideo, SpecialFolderId::Resources})
    guarded.Above.push_back(shell.SpecialFolder(id));
  platform::ProtectedFolderLists system = platform::SystemProtectedFolders();
  guarded.Above.insert(guarded.Above.end(), system.Above.begin(), system.Above.end());
  guarded.Within = system.Within;
  for (const char* name : {"Windows", "System"}) {
    int index = FVars.Find(name);
    if (index >= 0) guarded.Within.push_back(FVars.Variables()[static_cast<std::size_t>(index)].Value);
  }
  guarded.Above.erase(std::remove(guarded.Above.begin(), guarded.Above.end(), std::string()), guarded.Above.end());
  guarded.Within.erase(std::remove(guarded.Within.begin(), guarded.Within.end(), std::string()), guarded.Within.end());
  return guarded;
}

std::string TInstallerThread::CheckInstallFolder(const std::string& folder) const {
  try {
    std::string path = ResolveInstallFolder(folder, GuardedFolders());
    if (InspectInstallFolder(path, FInstall->ShortName(), RegisteredLocation()) == TFolderContent::Foreign)
      throw volok::Error("Недопустимая папка установки: " + folder + ".");
    return path;
  } catch (const volok::Error&) {
    // The folder came from the registration, not from the user: say so,
    // and how to install all the same.
    if (FRegisteredFolder.empty() ||
        ExcludeTrailingDelimiter(Trim(folder)) != ExcludeTrailingDelimiter(Trim(FRegisteredFolder)))
      throw;
    throw volok::Error("Недопустимая папка установки: " + folder +
                       ". В ней зарегистрирована установленная версия программы; укажите папку установки явно.");
  }
}

void TInstallerThread::Install() {
  TInstall& install = *FInstall;
  // Refused before the log moves there: the refusal is logged beside the engine.
  const std::string path = CheckInstallFolder(install.InstallPath());
  if (FScope == TInstallScope::User) CheckUserFolder(path, "Папка установки");
  const std::string replaces = CheckRegisteredVersion();
  install.SetInstallPath(path);
  FVars.Add("InstallPath", path);
  const std::string folder = IncludeTrailingDelimiter(path);
  SetLogFileName(folder + "setup.log");
  // A per-user install needs no more rights than its user has.
  if (FScope == TInstallScope::Machine && !HasAdminRights("")) throw volok::Error(kNoRightsMessage);
  const bool earlier = InspectInstallFolder(path, install.ShortName(), RegisteredLocation()) ==
                       TFolderContent::EarlierInstall;
  for (auto& entry : install.Install()) FVars.Process(*entry);
  for (auto& entry : install.UnInstall()) FVars.Process(*entry);
  if (FScope == TInstallScope::User) {
    CheckUserScopeEntries(install.Install());
    CheckUserScopeEntries(install.UnInstall());
  }
  if (earlier) CloseFilesInUse(path);
  // Everything the run may change is recorded before the first change: the
  // folder's entries, the registry values the entries touch, the entry.
  const TJournalState state = BeginState(false, path, install.Install(), RegistrationRoot(), RegistrationKey(install), earlier);
  BeginJournal(state);
  std::vector<std::string> kept;
  try {
    MoveEarlierAside(*FJournal);
    // Only now: the earlier content, its log included, has moved aside.
    if (!replaces.empty()) DoMessage(replaces, kMessageTrace, false);
    for (const std::string& relative : FJournal->State().Kept) kept.push_back(folder + relative);
    {
      // Files that programs still hold get the new version at the restart.
      std::optional<TDeferredWrites> deferred;
      std::optional<platform::ScopedDefault<platform::FileSystem>> scope;
      if (!kept.empty()) {
        deferred.emplace(platform::FileSystem::Default(), *FJournal);
        scope.emplace(*deferred);
      }
      InstallEntries(folder);
    }
    CommitJournal();
  } catch (...) {
    RollBackRun();
    throw;
  }
  (void)FinishRun();  // the install stands; what is left is only warned about
  RestartClosedApplications();
  if (!kept.empty()) {
    DoMessage("[Install] Файлы заняты и будут заменены после перезагрузки: " + ListedPaths(kept), kMessageWarning,
              false);
    FRestartNeeded = true;
  }
  DoMessage("[Install] Установка завершена.", kMessageDone, false);
}

void TInstallerThread::InstallEntries(const std::string& folder) {
  TInstall& install = *FInstall;
  const std::string path = ExcludeTrailingDelimiter(folder);
  if (!ForceFolders(path)) throw volok::Error("Невозможно создать папку для установки программы.");
  DoMessage("[Install] Установка программы в папку: \"" + path + "\"", kMessageTrace, false);
  ProgressStart(static_cast<int>(install.Install().size()) + 2);
  for (auto& entry : install.Install()) {
    ProgressStep();
    if (FTerminated) throw volok::Error("Процесс установки прерван.", kExitCancelled);
    if (!entry->Check(install.Options())) continue;
    DoMessage("[Operation] " + entry->Name(), kMessageTrace, false);
    FInstallActions.Process(*entry);
  }
  install.SaveUnInstallXml(folder + "uninstall.xml");
  ProgressStep();
  WriteUninstaller(folder + "uninstall.exe");
  RegistryUnInstall();
  ProgressStep();
}

void TInstallerThread::WriteUninstaller(const std::string& uninstaller) {
  // Under a temporary name first: "uninstall.exe" is never a torn copy.
  auto& files = platform::FileSystem::Default();
  const std::string copying = uninstaller + ".tmp";
  // A single file carries the bare engine, signed on its own, to write out
  // byte for byte through its checked handle. Otherwise the running image's
  // own file: natively its path may name another file by now, put there by
  // whoever may write the package folder.
  platform::File* bare = FPackage->SingleFile() ? FPackage->Find(kUninstallerEntry) : nullptr;
  if (FPackage->SingleFile() && !bare) throw volok::Error(kChecksumMessage);
  const bool copied = bare ? CopyChecked(*bare, ExeFileName(), copying).ok()
                           : files.CopyFileOver(EngineImageFile(), copying).ok();
  if (copied && !files.MoveFileReplace(copying, uninstaller).ok()) (void)files.RemoveFile(copying);
}

void TInstallerThread::UnInstall() {
  TInstall& install = *FInstall;
  DoMessage("[UnInstall] Удаление программы из папки: \"" + install.InstallPath() + "\"", kMessageTrace, false);
  if (FScope == TInstallScope::Machine && !HasAdminRights("")) throw volok::Error(kNoRightsMessage);
  // uninstall.xml lies in a folder its user may write: a per-user
  // uninstall run elevated still reaches no further than the install did.
  if (FScope == TInstallScope::User) CheckUserScopeEntries(install.UnInstall());
  CloseFilesInUse(install.InstallPath());
  BeginJournal(BeginState(true, install.InstallPath(), install.UnInstall(), RegistrationRoot(), RegistrationKey(install)));
  ProgressStart(static_cast<int>(install.UnInstall().size()) + 2);
  try {
    for (auto& entry : install.UnInstall()) {
      ProgressStep();
      if (FTerminated) throw volok::Error("Процесс удаления прерван.", kExitCancelled);
      DoMessage("[Operation] " + entry->Name(), kMessageTrace, false);
      FInstallActions.Process(*entry);
    }
    // What could not be removed keeps the registration, so the program can
    // still be found and uninstalled again.
    ReportLeftOvers();
    ProgressStep();
    if (RegistrationIsThisCopy())
      RegistryUnInstallDelete();
    else
      DoMessage("[UnInstall] Программа зарегистрирована в другой папке (\"" + RegisteredLocation() +
                    "\"): регистрация оставлена без изменений.",
                kMessageTrace, false);
    CommitJournal();
  } catch (...) {
    RollBackRun();
    throw;
  }
  // What neither goes now nor at the restart was named above; the journal
  // keeps it for the next start to finish, and the run must not say done.
  if (!FinishRun()) throw volok::Error("Удаление не завершено: не все файлы удалось удалить.");
  ProgressStep();
  RestartClosedApplications();
  DoMessage("[UnInstall] Удаление завершено.", kMessageDone, false);
}

}  // namespace volok
