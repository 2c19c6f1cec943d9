#include "app/entry.h"

#include "app/build_mode.h"
#include "app/elevation.h"
#include "app/relaunch.h"
#include "app/run_switches.h"
#include "common/app_paths.h"
#include "common/file_utils.h"
#include "common/log_writer.h"
#include "common/main_thread.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/runtime.h"
#include "platform/security.h"
#include "platform/ui/toolkit.h"
#include "wizard/installer_form.h"

namespace volok {

namespace {

bool IsWord(const std::vector<std::string>& parameters, const char* word) {
  return parameters.size() >= 2 && LowerCase(Trim(parameters[1])) == word;
}

bool IsHelpRequest(const std::vector<std::string>& parameters) {
  return IsWord(parameters, "--help") || IsWord(parameters, "-h") || IsWord(parameters, "/?") ||
         IsWord(parameters, "-?") || IsWord(parameters, "/help");
}

// Serves the worker's main-thread calls until its body has ended.
void WaitServing(TInstallerThread& worker) {
  MainThreadQueue::Instance().ServeUntil([&] { return worker.Finished(); });
  worker.WaitFor();
}

void PrintLines(const std::vector<std::string>& lines) {
  platform::AttachParentConsole();
  for (const std::string& line : lines) platform::WriteStdOutLine(line);
}

// The file name stays one name whatever the description's ShortName holds.
std::string SafeFileName(std::string name) {
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 32 || std::string("\\/:*?\"<>|").find(c) != std::string::npos) c = '_';
  return name;
}

// A full path for the log the caller named: the relaunched copy runs in
// another folder.
std::string FullLogPath(const std::string& file) {
  std::string full;
  return platform::FileSystem::Default().FullPath(file, full).ok() ? full : file;
}

// What the relaunched copy must also know of this command line.
std::string ForwardedArguments(const TRunSwitches& switches) {
  std::string arguments;
  if (switches.Passive) arguments += " /passive";
  if (switches.SuppressMsgBoxes) arguments += " /suppressmsgboxes";
  if (!switches.LogFile.empty()) arguments += " \"/log=" + FullLogPath(switches.LogFile) + "\"";
  if (switches.CloseApplications) arguments += " /closeapplications";
  if (switches.RestartApplications) arguments += " /restartapplications";
  if (switches.Scope == TScopeSwitch::AllUsers) arguments += " /allusers";
  if (switches.Scope == TScopeSwitch::CurrentUser) arguments += " /currentuser";
  return arguments;
}

// A run without administrator rights reads its description first to learn
// its scope: one for the whole machine goes on elevated, with the same
// command line, and answers that run's exit code. When the user declines,
// this run goes on and refuses as a run without rights does.
bool ElevateForMachineScope(const std::vector<std::string>& parameters, const std::vector<std::string>& rests,
                            const TRunSwitches& switches, int& exit_code) {
  if (switches.ElevatedRelaunch || platform::Security::Default().IsAdministrator()) return false;
  TInstallScope scope = TInstallScope::User;
  {
    TInstallerThread probe(switches.Scope);
    if (probe.Error()) return false;  // the run itself reports it
    scope = probe.Scope();
  }
  std::string failure;
  if (RunElevatedForScope(scope, ElevatedArguments(parameters, rests), exit_code, failure)) return true;
  if (!failure.empty()) WriteLogLine("[Elevation] Не удалось получить права администратора: " + failure, nullptr, 0, 65001, true);
  return false;
}

// The message handler of a silent run: the run's log file, and the file
// /log names as well.
TMessageEvent SilentLog(const std::string& extra_log) {
  return [extra_log](TInstallerThread& sender, const std::string& message, int type, bool is_fatal) {
    TInstallerThread::LogSilent(sender, message, type, is_fatal);
    if (!extra_log.empty()) WriteLogLineTo(extra_log, is_fatal ? "Fatal " + message : message, 65001);
  };
}

void LogFatal(const std::string& message, const TRunSwitches& switches) {
  WriteLogLine("Fatal " + message, nullptr, 0, 65001, true);
  if (!switches.LogFile.empty()) WriteLogLineTo(switches.LogFile, "Fatal " + message, 65001);
}

// The original uninstaller's end: it waits for its copy and answers the
// copy's exit code. A process's current folder cannot be removed on
// Windows, and a caller that started the uninstaller in its install folder
// left it there: it moves out first (nothing relative is resolved any more).
int AwaitCopy(TRelaunch& relaunch, TInstallerThread& worker) {
  (void)platform::SetCurrentFolder(GetTempFolder());
  return WaitForRelaunch(relaunch, [&worker] { worker.Recover(); });
}

// The uninstaller in its install folder: the copy does the work, this
// process waits for it and answers its exit code.
int RunRelaunched(TInstallerThread& worker, const TRunSwitches& switches) {
  TRelaunch relaunch = RelaunchFromTemp(true, {ForwardedArguments(switches), true});
  if (!relaunch.Failure.empty()) {
    // Scripts must learn that nothing was uninstalled.
    LogFatal("[Relaunch] " + relaunch.Failure, switches);
    return kExitFatal;
  }
  return AwaitCopy(relaunch, worker);
}

// The relaunched copy's uninstall. Its log stays in the temporary folder
// (or where /log says): the relaunch folder goes with the copy.
int RunCopiedUninstall(TInstallerThread& worker, const TRunSwitches& switches) {
  std::string log = switches.LogFile;
  if (log.empty()) {
    std::string temp = GetTempFolder();
    std::string folder = temp.empty() ? ExtractFilePath(ExeFileName()) : IncludeTrailingDelimiter(temp);
    log = folder + "uninstall-" + SafeFileName(worker.InstallParameters().ShortName()) + ".log";
  }
  SetLogFileName(log);
  worker.OnMessage = &TInstallerThread::LogSilent;
  worker.Start();
  WaitServing(worker);
  return worker.ExitCode();
}

int RunInstall(TInstallerThread& worker, const TRunSwitches& switches) {
  worker.OnMessage = SilentLog(switches.LogFile);
  std::string folder = switches.InstallFolder;
  if (!folder.empty()) {
    worker.Vars().Process(folder);
    // A root keeps its backslash, so its refusal names it.
    if (!IsDriveRoot(folder) && folder.back() == '\\') folder.pop_back();
    worker.InstallParameters().SetInstallPath(folder);
  }
  worker.Start();
  WaitServing(worker);
  // An accepted folder that could not hold its log (read-only, full)
  // would leave no trace of why: the reason goes beside the engine.
  if (worker.Error() && !platform::FileSystem::Default().FileExists(LogFileName())) {
    SetLogFileName(ChangeFileExt(ExeFileName(), ".log"));
    WriteLogLine("Fatal " + worker.Message(), nullptr, 0, 65001, true);
  }
  return worker.ExitCode();
}

}  // namespace

int RunSilentWith(const TRunSwitches& switches) {
  int exit_code = kExitFatal;
  bool completed = false;
  {
    TInstallerThread worker(switches.Scope);
    worker.SetAllowDowngrade(switches.AllowDowngrade);
    worker.SetCloseApplications(switches.CloseApplications);
    worker.SetRestartApplications(switches.RestartApplications);
    if (worker.Error()) {
      // Scripts that run the silent install need a trace of why nothing
      // happened.
      LogFatal(worker.Message(), switches);
      exit_code = worker.ExitCode();
    } else if (worker.UnInstaller()) {
      exit_code = IsRunningFromTemp() ? RunCopiedUninstall(worker, switches) : RunRelaunched(worker, switches);
    } else {
      exit_code = RunInstall(worker, switches);
    }
    completed = worker.Finished() && !worker.Error();
  }
  WriteSelfDeleteBatch(completed);
  return exit_code;
}

int RunSilent(const std::vector<std::string>& parameters) {
  TRunSwitches switches = ParseRunSwitches(parameters);
  if (!switches.Error.empty()) return RunUsageError(switches.Error);
  switches.Silent = true;
  return RunSilentWith(switches);
}

int RunProgramMain(const std::vector<std::string>& parameters, const std::vector<std::string>& rests) {
  MainThreadQueue::Instance().BindToCurrentThread();
  if (IsHelpRequest(parameters)) return RunHelp();
  if (IsWord(parameters, "build")) return RunBuild(parameters);
  TRunSwitches switches = ParseRunSwitches(parameters, rests);
  if (!switches.Error.empty()) return RunUsageError(switches.Error);
  RemoveStaleRelaunchFolders();
  int elevated_exit = 0;
  if (ElevateForMachineScope(parameters, rests, switches, elevated_exit)) return elevated_exit;
  if (switches.Silent) return RunSilentWith(switches);
  if (switches.Passive && !platform::ui::TToolkit::Default().HasWindow()) {
    PrintLines({kPassiveWithoutWindowNote});
    switches.Silent = true;
    return RunSilentWith(switches);
  }
  // The window reads parameter 1 ("create") as the user gave it.
  std::vector<std::string> given(parameters);
  if (switches.ElevatedRelaunch) given.erase(given.begin() + 1);
  return RunWizard(given, switches);
}

int RunWizard(const std::vector<std::string>& parameters, const TRunSwitches& switches) {
  auto& toolkit = platform::ui::TToolkit::Default();
  if (!toolkit.HasWindow()) {
    platform::ShowMessage(kApplicationTitle,
                          "Окно мастера установки в этой сборке недоступно. Запустите программу с параметром silent.");
    return kExitFatal;
  }
  TRelaunch relaunch;
  bool relaunch_failed = false;
  auto start_copy = [&] {
    relaunch = RelaunchFromTemp(false, {ForwardedArguments(switches), true});
    relaunch_failed = !relaunch.Failure.empty();
    if (relaunch_failed) platform::ShowMessage(kApplicationTitle, relaunch.Failure);
  };
  TRunHooks hooks{IsRunningFromTemp, start_copy,
                  [](int exit_code) { WriteSelfDeleteBatch(exit_code == 0 || exit_code == kExitRestartNeeded); },
                  switches.Scope};
  int exit_code = kExitFatal;
  {
    TfmInstaller window(parameters, std::move(hooks), toolkit);
    window.Worker().SetAllowDowngrade(switches.AllowDowngrade);
    window.Worker().SetCloseApplications(switches.CloseApplications);
    window.Worker().SetRestartApplications(switches.RestartApplications);
    if (!switches.InstallFolder.empty() && !window.Worker().Error() && !window.Worker().UnInstaller()) {
      std::string folder = switches.InstallFolder;
      window.Worker().Vars().Process(folder);
      window.edPath->SetText(ExcludeTrailingDelimiter(folder));
    }
    // An uninstaller that has started its temporary copy ends at once; a
    // passive run that cannot start shows nothing.
    if (!window.ApplicationTerminated() && (!switches.Passive || window.RunPassive())) {
      toolkit.Show(window.Form());
      toolkit.Run(window.Form());
    }
    window.WaitForRun();
    exit_code = window.ExitCode();
    // The copy's window does the work; this process answers for it (its
    // own worker stays for a recovery should the copy be killed).
    if (relaunch.Process) return AwaitCopy(relaunch, window.Worker());
  }
  return relaunch_failed ? kExitFatal : exit_code;
}

int RunHelp() {
  std::vector<std::string> lines(std::begin(kUsageLines), std::end(kUsageLines));
  PrintLines(lines);
  return 0;
}

int RunUsageError(const std::string& error) {
  std::vector<std::string> lines{error};
  lines.insert(lines.end(), std::begin(kUsageLines), std::end(kUsageLines));
  PrintLines(lines);
  return kExitBadCommandLine;
}

}  // namespace volok
