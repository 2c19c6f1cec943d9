#include "app/entry.h"

#include "app/build_mode.h"
#include "common/app_paths.h"
#include "common/file_utils.h"
#include "common/log_writer.h"
#include "common/main_thread.h"
#include "common/process_utils.h"
#include "common/text.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/code_pages.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/runtime.h"
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

bool IsRelaunchFolderName(const std::string& name) {
  const std::string prefix = kRelaunchFolderPrefix;
  if (name.size() != prefix.size() + 16 || name.rfind(prefix, 0) != 0) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z'))) return false;
  return true;
}

// Links resolved (and, on Windows, 8.3 names made long) where the path
// exists, so two spellings of one folder compare equal.
std::string Canonical(const std::string& path) {
  std::string canonical;
  return platform::FileSystem::Default().CanonicalPath(path, canonical).ok() ? canonical : path;
}

// Copies one file of the relaunch, without the read-only attribute a copy
// from a read-only medium would keep: the batch must be able to delete it.
std::string CopyForRelaunch(const std::string& source, const std::string& target) {
  auto& fs = platform::FileSystem::Default();
  platform::Status copied = fs.CopyFileOver(source, target);
  if (!copied.ok()) return "Не удалось скопировать файл: " + source + ": " + copied.message();
  std::uint32_t attributes = 0;
  if (fs.GetAttributes(target, attributes).ok() && (attributes & platform::FileAttribute::ReadOnly))
    (void)fs.SetAttributes(target, attributes & ~platform::FileAttribute::ReadOnly);
  return {};
}

void RemoveRelaunchFolder(const std::string& folder) {
  auto& fs = platform::FileSystem::Default();
  (void)fs.RemoveFile(folder + "uninstall.exe");
  (void)fs.RemoveFile(folder + "uninstall.xml");
  (void)fs.RemoveEmptyFolder(folder);
}

// The deletion of one file, retried for about ten seconds while the ending
// process still holds it. Unrolled, so the batch needs neither variables nor
// labels; "ping -n 2" to the loopback address waits one second.
std::string DeleteWithRetry(const std::string& path) {
  std::string lines;
  for (int attempt = 0; attempt < 10; ++attempt) {
    lines += "@del /f /q \"" + path + "\" > nul 2> nul\r\n";
    lines += "@if exist \"" + path + "\" ping -n 2 127.0.0.1 > nul\r\n";
  }
  return lines;
}

}  // namespace

bool IsRelaunchedCopy() {
  return IsRelaunchFolderName(ExtractFileName(ExcludeTrailingDelimiter(ExtractFilePath(ExeFileName()))));
}

bool IsRunningFromTemp() {
  // The copy never relaunches again, whatever the environment now says.
  if (IsRelaunchedCopy()) return true;
  std::string temp = GetTempFolder();
  if (temp.empty()) return false;
  // Only inside the folder or below it: a sibling such as "C:\Temp2" whose
  // name merely starts the same does not count.
  std::string prefix = LowerCase(IncludeTrailingDelimiter(Canonical(temp)));
  return LowerCase(Canonical(ExeFileName())).rfind(prefix, 0) == 0;
}

TRelaunch RelaunchFromTemp(bool silent, const std::string& switches) {
  std::string temp = GetTempFolder();
  if (temp.empty()) return {{}, "Папка временных файлов не найдена."};
  // A fresh folder of unpredictable name: the copy runs with administrator
  // rights, so no other process may swap it between the copy and its start.
  std::string folder = MakeFreshFolder(temp, kRelaunchFolderPrefix);
  if (folder.empty()) return {{}, "Не удалось создать папку в папке временных файлов: " + temp + "."};
  std::string copy = folder + "uninstall.exe";
  std::string failure = CopyForRelaunch(ExeFileName(), copy);
  if (failure.empty()) failure = CopyForRelaunch(ChangeFileExt(ExeFileName(), ".xml"), folder + "uninstall.xml");
  if (failure.empty() && !RunProgram("\"" + copy + "\"" + (silent ? " silent" : "") + (switches.empty() ? "" : " " + switches), folder))
    failure = "Не удалось запустить программу: " + copy + ".";
  if (failure.empty()) return {copy, {}};
  RemoveRelaunchFolder(folder);
  return {{}, failure};
}

void WriteSelfDeleteBatch() {
  if (!IsRelaunchedCopy()) return;
  std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(ExeFileName()));
  // The batch lies beside the relaunch folder (a batch still open inside it
  // would keep the folder from being removed) and names everything relative
  // to its own folder, where it is started: the lines then hold only ASCII,
  // whatever letters, blanks, "%", "^" or "&" the temporary folder's path
  // has, and cmd reads them right in any code page.
  std::string name = ExtractFileName(folder);
  std::string batch = folder + ".bat";
  std::string text = DeleteWithRetry(name + "\\uninstall.exe");
  text += "@del /f /q \"" + name + "\\uninstall.xml\" > nul 2> nul\r\n";
  // rmdir without /s removes the folder only when it is empty.
  text += "@rmdir \"" + name + "\" > nul 2> nul\r\n";
  text += "@del /f /q \"" + name + ".bat\" > nul 2> nul\r\n";
  try {
    WriteTextFile(text, batch, platform::CodePages::Default().ActiveAnsiCodePage());
  } catch (...) {
    return;  // nothing is started without its batch
  }
  if (!platform::FileSystem::Default().FileExists(batch)) return;
  (void)platform::StartBatch(batch, ExtractFilePath(batch));
}

namespace {

// The switches for programs that hold files, wherever they stand; the other
// parameters keep their order.
struct TInUseSwitches {
  bool Close = false, Restart = false;
  std::string Text() const {
    return std::string(Close ? "/closeapplications" : "") + (Close && Restart ? " " : "") +
           (Restart ? "/restartapplications" : "");
  }
};

std::vector<std::string> TakeInUseSwitches(const std::vector<std::string>& parameters, TInUseSwitches& switches) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string word = LowerCase(Trim(parameters[i]));
    if (i > 0 && word == "/closeapplications")
      switches.Close = true;
    else if (i > 0 && word == "/restartapplications")
      switches.Restart = true;
    else
      rest.push_back(parameters[i]);
  }
  return rest;
}

}  // namespace

int RunSilent(const std::vector<std::string>& all_parameters) {
  int exit_code = 1;
  TInUseSwitches switches;
  const std::vector<std::string> parameters = TakeInUseSwitches(all_parameters, switches);
  {
    TInstallerThread worker;
    worker.SetCloseApplications(switches.Close);
    worker.SetRestartApplications(switches.Restart);
    if (worker.Error()) {
      // Scripts that run the silent install need a trace of why nothing
      // happened.
      WriteLogLine("Fatal " + worker.Message(), nullptr, 0, 65001, true);
    } else if (worker.UnInstaller()) {
      if (IsRunningFromTemp()) {
        // The log beside the copy is written only when something stayed, so
        // a clean uninstall leaves nothing behind while a failed one tells
        // scripts and people what was left.
        std::vector<std::string> lines;
        worker.OnMessage = [&lines](TInstallerThread&, const std::string& message, int, bool is_fatal) {
          lines.push_back(is_fatal ? "Fatal " + message : message);
        };
        worker.Start();
        WaitServing(worker);
        if (worker.Error() || worker.RestartNeeded())
          for (const std::string& line : lines) WriteLogLine(line, nullptr, 0, 65001, true);
        exit_code = worker.ExitCode();
      } else {
        TRelaunch relaunch = RelaunchFromTemp(true, switches.Text());
        // Scripts must learn that nothing was uninstalled.
        if (!relaunch.Failure.empty()) WriteLogLine("Fatal [Relaunch] " + relaunch.Failure, nullptr, 0, 65001, true);
        exit_code = relaunch.Failure.empty() ? 0 : 1;
      }
    } else {
      worker.OnMessage = &TInstallerThread::LogSilent;
      if (parameters.size() >= 3) {
        std::string folder = Trim(parameters[2]);
        if (!folder.empty()) {
          worker.Vars().Process(folder);
          // A root keeps its backslash, so its refusal names it.
          if (!IsDriveRoot(folder) && folder.back() == '\\') folder.pop_back();
          worker.InstallParameters().SetInstallPath(folder);
        }
      }
      worker.Start();
      WaitServing(worker);
      exit_code = worker.ExitCode();
      // An accepted folder that could not hold its log (read-only, full)
      // would leave no trace of why: the reason goes beside the engine.
      if (worker.Error() && !platform::FileSystem::Default().FileExists(LogFileName())) {
        SetLogFileName(ChangeFileExt(ExeFileName(), ".log"));
        WriteLogLine("Fatal " + worker.Message(), nullptr, 0, 65001, true);
      }
    }
  }
  WriteSelfDeleteBatch();
  return exit_code;
}

int RunProgramMain(const std::vector<std::string>& parameters) {
  MainThreadQueue::Instance().BindToCurrentThread();
  if (IsHelpRequest(parameters)) return RunHelp();
  if (IsWord(parameters, "silent")) return RunSilent(parameters);
  if (IsWord(parameters, "build")) return RunBuild(parameters);
  return RunWizard(parameters);
}

int RunWizard(const std::vector<std::string>& parameters) {
  auto& toolkit = platform::ui::TToolkit::Default();
  if (!toolkit.HasWindow()) {
    platform::ShowMessage(kApplicationTitle,
                          "Окно мастера установки в этой сборке недоступно. Запустите программу с параметром silent.");
    return 0;
  }
  auto relaunch = [] {
    TRelaunch started = RelaunchFromTemp(false);
    if (!started.Failure.empty()) platform::ShowMessage(kApplicationTitle, started.Failure);
  };
  TRunHooks hooks{IsRunningFromTemp, relaunch, WriteSelfDeleteBatch};
  TfmInstaller window(parameters, std::move(hooks), toolkit);
  // An uninstaller that has started its temporary copy ends at once.
  if (!window.ApplicationTerminated()) {
    toolkit.Show(window.Form());
    toolkit.Run(window.Form());
  }
  return window.ExitCode();
}

int RunHelp() {
  platform::AttachParentConsole();
  for (const char* line : kUsageLines) platform::WriteStdOutLine(line);
  return 0;
}

}  // namespace volok
