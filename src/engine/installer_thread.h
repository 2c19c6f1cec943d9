// The engine's worker: one object per run. It reads the description beside
// the executable, decides between install and uninstall, and runs that on a
// thread of its own. It reports only through its five events, each run on
// the main thread while the worker waits (MainThreadQueue).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/install_folder.h"
#include "engine/package_files.h"
#include "engine/run_journal.h"
#include "model/command_tables.h"
#include "model/install.h"
#include "model/version.h"
#include "model/variables.h"
#include "platform/file_holders.h"
#include "platform/registry.h"

namespace volok {

class TInstallerThread;

using TMessageEvent =
    std::function<void(TInstallerThread& Sender, const std::string& Message, int MessageType, bool IsFatal)>;
using TProgressStartEvent = std::function<void(TInstallerThread& Sender, int StepsCount)>;
using TNotifyEvent = std::function<void(TInstallerThread& Sender)>;
// Programs hold files of the install folder: true closes them and goes on,
// false cancels the run.
using TFilesInUseEvent =
    std::function<bool(TInstallerThread& Sender, const std::vector<platform::FileHolder>& Holders)>;

// Message types the worker sends.
constexpr int kMessageDone = 0;     // the run completed
constexpr int kMessageError = 1;    // the run ended with an error
constexpr int kMessageWarning = 2;  // something failed, the run goes on
constexpr int kMessageTrace = 4;    // the step in progress

inline constexpr char kNoRightsMessage[] =
    "Недостаточно прав. Попробуйте запустить программу с правами администратора.";

// Exit codes beyond 0 (done): the numbers deployment tools know from
// Windows Installer.
constexpr int kExitCancelled = 1602;       // the user cancelled the run
constexpr int kExitFatal = 1603;           // the run failed or was refused
constexpr int kExitAnotherRun = 1618;      // another run for the program holds its journal
constexpr int kExitNewerInstalled = 1638;  // a newer version of the program is installed
constexpr int kExitBadCommandLine = 1639;  // the command line is not understood
constexpr int kExitRestartNeeded = 3010;   // done, files in use go at the next restart
// A RunWait child's "done, the restart has begun"; the engine itself ends
// with kExitRestartNeeded for it, since it never restarts the machine.
constexpr int kExitRestartInitiated = 1641;

class TInstallerThread final {
 public:
  // Reads and checks the description ExeFileName() with ".xml" and chooses
  // the run's scope from it, the /allusers or /currentuser switch
  // `requested` and the process's rights (ChooseScope). Never throws for
  // the description: a failure is recorded in Error() and Message(); a
  // switch that contradicts the described scope fails with
  // kExitBadCommandLine.
  explicit TInstallerThread(TScopeSwitch requested = TScopeSwitch::None);
  // Requests termination and waits when the thread still runs.
  ~TInstallerThread();
  TInstallerThread(const TInstallerThread&) = delete;
  TInstallerThread& operator=(const TInstallerThread&) = delete;

  // Starts the thread body once. Never call it when Error() is set.
  void Start();
  // Asks the run to stop before its next entry; any thread.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Takes the program's journal and recovers a run that was killed, then
  // lets the journal go, without running anything; on the calling thread.
  // Throws what recovery cannot do. Every run does this first on its own.
  void Recover();
  // Blocks until the thread body has ended (no main-thread service: use
  // MainThreadQueue::ServeUntil on the main thread instead).
  void WaitFor();
  // The thread was started and its body has returned.
  bool Finished() const { return FFinished; }

  bool Error() const { return FError; }
  bool Running() const { return FRunning; }
  bool UnInstaller() const { return FUnInstaller; }
  const std::string& Message() const { return FMessage; }
  int MessageType() const { return FMessageType; }
  bool MessageFatal() const { return FMessageFatal; }
  TInstall& InstallParameters() { return *FInstall; }
  TVariables& Vars() { return FVars; }
  bool Win64() const { return FWin64; }
  // Machine or User: for whom this run installs or uninstalls.
  TInstallScope Scope() const { return FScope; }
  // Where the scope keeps the Add/Remove entry: HKEY_LOCAL_MACHINE for the
  // machine, HKEY_CURRENT_USER for a user.
  platform::RegistryRoot RegistrationRoot() const;
  // The run completed, but files in use are removed or replaced only at the
  // next restart.
  bool RestartNeeded() const { return FRestartNeeded; }
  // What a run without OnFilesInUse does when programs hold files of the
  // install folder before an upgrade or uninstall: close them (else the run
  // fails naming them), and start them again once the run has ended.
  void SetCloseApplications(bool close) { FCloseApplications = close; }
  void SetRestartApplications(bool restart) { FRestartApplications = restart; }
  // The run was refused because another run for this program holds its
  // journal.
  bool AnotherRun() const { return FAnotherRun; }
  // The process's exit code for this finished run: the code the failing
  // error carried, kExitAnotherRun, kExitCancelled for a run that was asked
  // to stop, else kExitFatal; kExitRestartNeeded for a run that completed
  // with something left for the next restart.
  int ExitCode() const {
    if (FError) return FAnotherRun ? kExitAnotherRun : FFailureCode != 0 ? FFailureCode : kExitFatal;
    return FRestartNeeded ? kExitRestartNeeded : 0;
  }
  // The identity of `folder` (absolute, links and short names resolved) when
  // an install may use it; raises "Недопустимая папка установки: …" for a
  // drive root, a system folder, the temporary folder, the engine's own
  // folder or one above these, or a folder inside the system's own.
  std::string CheckInstallFolder(const std::string& folder) const;
  // The folders no install may take over and no delete may reach.
  TGuardedFolders GuardedFolders() const;
  // InstallLocation of this program's registration, or "".
  std::string RegisteredLocation() const;
  // The DisplayVersion of this program's registration; false when there is
  // none or it reads as no version.
  bool RegisteredVersion(TVersion& version) const;
  // Whether an install may replace a newer registered version (the run was
  // started with /allowdowngrade). Set before Start; false by default, so
  // an older version is refused with kExitNewerInstalled before anything
  // changes.
  void SetAllowDowngrade(bool allow) { FAllowDowngrade = allow; }
  bool AllowDowngrade() const { return FAllowDowngrade; }
  // The folder that the registration named when the worker was made: the
  // install's default folder in place of the description's (empty when
  // the program was not registered).
  const std::string& RegisteredFolder() const { return FRegisteredFolder; }

  TMessageEvent OnMessage;
  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TProgressStartEvent OnProgressStart;
  TNotifyEvent OnProgressStep;
  // Asked (on the main thread) before programs that hold files are closed;
  // without it the switches above decide.
  TFilesInUseEvent OnFilesInUse;

  // The one way the worker and its commands report a message.
  void DoMessage(const std::string& message, int message_type, bool is_fatal);
  // A message handler for the silent run: every message to the log file,
  // fatal ones with "Fatal " before them.
  static void LogSilent(TInstallerThread& sender, const std::string& message, int message_type, bool is_fatal);

 private:
  void Init(TScopeSwitch requested);
  // The installer's scope: a described Either follows an installed copy.
  void ChooseRunScope(TScopeSwitch requested);
  // A per-user run refuses, naming the entry, what would reach beyond its
  // user: machine folders (CheckUserFolder) and registry roots other than
  // HKEY_CURRENT_USER.
  void CheckUserScopeEntries(const TInstall::TInstallFiles& entries) const;
  // The folders a per-user run may not write: {ProgramFiles} and the
  // common (all-users) folders.
  std::vector<std::string> MachineFolders() const;
  void CheckUserFolder(const std::string& path, const std::string& what) const;
  // The description's text: a package's checked against the manifest, an
  // uninstaller's as it lies beside it.
  std::string ReadDescription();
  // Checks every file of the manifest, and that every entry that reads a
  // package file names one of them with its size and CRC.
  void VerifyPackage();
  // A package file the commands read, checked at the start; throws Error
  // with kChecksumMessage for one the manifest does not name.
  platform::File& PackageFile(const std::string& name) const;
  void Execute();
  void Install();
  void InstallEntries(const std::string& folder);
  // Writes the program's uninstaller at `uninstaller`: a single file's
  // attached bare engine, else a copy of the running engine's file.
  void WriteUninstaller(const std::string& uninstaller);
  void UnInstall();
  void RegisterCommands();
  void ProgressStart(int steps);
  void ProgressStep();
  void Notify(const TNotifyEvent& event);

  // The thirteen commands.
  void UnZipCommand(TInstallFile& file);
  void CopyCommand(TInstallFile& file);
  void Copy2Command(TInstallFile& file);
  void CopyTextCommand(TInstallFile& file);
  void ProcessTextCommand(TInstallFile& file);
  void DeleteFileCommand(TInstallFile& file);
  void DeleteFolderCommand(TInstallFile& file);
  void RunCommand(TInstallFile& file);
  void RunWaitCommand(TInstallFile& file);
  void LinkCommand(TInstallFile& file);
  void ProcessTerminateCommand(TInstallFile& file);
  void RegistryWriteCommand(TInstallFile& file);
  void RegistryDeleteCommand(TInstallFile& file);
  // DeleteFile and DeleteFolder: one path, or the names a mask in its last
  // segment matches.
  void DeletePath(const std::string& path);
  // Deletes the paths the delete guard allows, warning about the others.
  // What lies outside the install folder, and during an uninstall
  // everything, is moved aside under the journal and deleted only after the
  // commit. During an uninstall, what stays is scheduled for removal at the
  // next restart or recorded as left.
  void DeleteGuarded(const std::vector<std::string>& paths);
  // Takes the program's journal, and brings back or finishes a run that was
  // killed, before anything else happens.
  void OpenJournal();
  // Drops what the interrupted run could not have recorded; false when
  // nothing of its journal may be replayed.
  bool BoundInterrupted();
  void RecoverInterrupted();
  // Records the run's start (nothing changed yet), and its commit once all
  // it wrote is on the disk.
  void BeginJournal(const TJournalState& state);
  void CommitJournal();
  // A run that failed or was cancelled before its commit: everything back.
  void RollBackRun();
  // After the commit: the clean-up, whose problems are only warnings; what
  // it could only schedule for the next restart makes the run need one.
  // Lets the journal go: nothing of the run is held once it reports its end.
  // False when something could neither be removed nor scheduled.
  bool FinishRun();
  void RecordLeftOver(const std::string& path);
  // Ends an uninstall whose deletes left something: an error naming it, or
  // a warning when all of it goes at the next restart.
  void ReportLeftOvers();
  // Names in the log what goes only at the next restart.
  void ReportAtRestart(const std::vector<std::string>& paths);
  // The guard of deletes, prepared once per run on the worker thread.
  const TFolderGuard& DeleteGuard();
  // Copy and Copy2: a missing source fails; a failed copy warns and goes on.
  // Makes a missing target folder inside the install folder; throws for a
  // missing one elsewhere.
  void RequireTargetFolder(const std::string& folder);
  void CopyWithWarning(const std::string& source, const std::string& target);
  // Records in the journal what `target` was before this run writes it,
  // wherever the folder rollback does not reach.
  void JournalTarget(const std::string& target);

  // Before an upgrade or uninstall moves anything: the programs that hold
  // files of `folder` are named, then closed or the run refused.
  void CloseFilesInUse(const std::string& folder);
  // Holders the description's own ProcessTerminate entries end anyway.
  bool EndedByEntries(const platform::FileHolder& holder);
  // Starts again what CloseFilesInUse closed, when asked to.
  void RestartClosedApplications();

  // Add/Remove Programs. Both throw what the registry refused.
  void RegistryUnInstall();
  void RegistryUnInstallDelete();
  // The registration names this copy's folder, or no folder at all; an
  // uninstall of another copy leaves the registration alone.
  bool RegistrationIsThisCopy() const;
  // Refuses an older version over a newer registered one (unless allowed);
  // answers the trace line that tells what the install replaces, or "".
  std::string CheckRegisteredVersion() const;

  std::unique_ptr<TInstall> FInstall;
  std::unique_ptr<TPackageFiles> FPackage;
  std::string FMessage;
  int FMessageType = 0;
  bool FMessageFatal = false;
  TCommands FInstallActions;
  TVariables FVars;
  std::atomic<bool> FError{false};
  std::atomic<bool> FRunning{false};
  bool FUnInstaller = false;
  bool FWin64 = false;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
  std::unique_ptr<TFolderGuard> FDeleteGuard;
  // What the uninstall's deletes could not remove: scheduled for the next
  // restart, or left for good.
  std::vector<std::string> FLeftAtRestart, FLeftForGood;
  bool FRestartNeeded = false;
  std::unique_ptr<TRunJournal> FJournal;
  bool FAnotherRun = false;
  int FFailureCode = 0;  // the exit code the failing error carried, or 0
  bool FCloseApplications = false, FRestartApplications = false;
  std::unique_ptr<platform::HolderSession> FHolders;  // the programs this run closed
  bool FAllowDowngrade = false;
  std::string FRegisteredFolder;
  TInstallScope FScope = TInstallScope::Machine;
};

// Whether the command reads its FileName from the package folder: UnZip,
// Copy and CopyText.
bool IsPackageCommand(const std::string& action);
// Copies a checked package file through its handle, with the attributes
// and time of the file at `source`, as CopyFileOver does (and refusing the
// same targets).
platform::Status CopyChecked(platform::File& file, const std::string& source, const std::string& target);
// The package path that an UnZip FileName names: a relative name as it
// stands, an absolute one inside the engine's folder relative to it; ""
// for a file outside the package, which the description names as it lies.
std::string PackageName(const std::string& file_name);

// The program's key in Add/Remove Programs, below RegistrationRoot().
std::string RegistrationKey(const TInstall& install);
// The KiB, rounded up, of the files below an install folder, without its
// "Backup" (and staging "Backup.*") subfolders and without following links.
std::uint32_t InstalledSizeKiB(const std::string& folder);

// The first twenty of `paths`, comma-separated, and how many more.
std::string ListedPaths(const std::vector<std::string>& paths);

// Common routines of the install procedure.
bool HasAdminRights(const std::string& machine_name);

}  // namespace volok
