#include "app/entry.h"

#include <random>

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
#include "platform/file_system.h"
#include "platform/runtime.h"
#include "platform/ui/toolkit.h"
#include "wizard/installer_form.h"

namespace volok {

namespace {

bool IsWord(const std::vector<std::string>& parameters, const char* word) {
  return parameters.size() >= 2 && LowerCase(Trim(parameters[1])) == word;
}

std::string RandomName() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digit(0, 35);
  std::string name = kRelaunchFolderPrefix;
  for (int i = 0; i < 16; ++i) {
    unsigned d = digit(device);
    name += static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
  }
  return name;
}

// Serves the worker's main-thread calls until its body has ended.
void WaitServing(TInstallerThread& worker) {
  MainThreadQueue::Instance().ServeUntil([&] { return worker.Finished(); });
  worker.WaitFor();
}

}  // namespace

bool IsRunningFromTemp() {
  std::string temp = GetTempFolder();
  if (temp.empty()) return false;
  // Only inside the folder or below it: a sibling such as "C:\Temp2" whose
  // name merely starts the same must never trigger the self-delete.
  std::string prefix = LowerCase(IncludeTrailingDelimiter(temp));
  return LowerCase(ExeFileName()).rfind(prefix, 0) == 0;
}

std::string RelaunchFromTemp(bool silent) {
  std::string temp = GetTempFolder();
  if (temp.empty()) return {};
  auto& fs = platform::FileSystem::Default();
  // A fresh folder of unpredictable name: the copy runs with administrator
  // rights, so no other process may swap it between the copy and its start.
  std::string folder;
  for (int attempt = 0; attempt < 8 && folder.empty(); ++attempt) {
    std::string candidate = IncludeTrailingDelimiter(temp) + RandomName();
    if (fs.MakeFolder(candidate).ok()) folder = IncludeTrailingDelimiter(candidate);
  }
  if (folder.empty()) return {};
  std::string copy = folder + "uninstall.exe";
  (void)fs.CopyFileOver(ExeFileName(), copy);
  (void)fs.CopyFileOver(ChangeFileExt(ExeFileName(), ".xml"), folder + "uninstall.xml");
  std::string command_line = "\"" + copy + "\"" + (silent ? " silent" : "");
  return RunProgram(command_line, folder) ? copy : std::string();
}

void WriteSelfDeleteBatch() {
  std::string exe = ExeFileName();
  std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(exe));
  // A relaunch folder goes too. Its batch then lies beside it, not in it:
  // a batch still open in the folder would keep it from being removed.
  bool relaunch_folder = ExtractFileName(folder).rfind(kRelaunchFolderPrefix, 0) == 0;
  std::string batch = relaunch_folder ? folder + ".bat" : ChangeFileExt(exe, ".bat");
  std::string text = "@ping -n 1 -w 500 127.0.0.1 > nul\r\n";
  text += "@del \"" + ChangeFileExt(exe, ".xml") + "\"\r\n";
  text += "@del \"" + exe + "\"\r\n";
  // rmdir without /s removes the folder only when it is empty.
  if (relaunch_folder) text += "@rmdir \"" + folder + "\"\r\n";
  text += "@del \"" + batch + "\"\r\n";
  try {
    WriteTextFile(text, batch, platform::CodePages::Default().ActiveAnsiCodePage());
  } catch (...) {
    return;  // nothing is started without its batch
  }
  if (!platform::FileSystem::Default().FileExists(batch)) return;
  (void)platform::StartBatch(batch, ExtractFilePath(batch));
}

int RunSilent(const std::vector<std::string>& parameters) {
  int exit_code = 1;
  {
    TInstallerThread worker;
    if (worker.Error()) {
      // Scripts that run the silent install need a trace of why nothing
      // happened.
      WriteLogLine("Fatal " + worker.Message(), nullptr, 0, 65001, true);
    } else if (worker.UnInstaller()) {
      if (IsRunningFromTemp()) {
        worker.Start();
        WaitServing(worker);
        exit_code = worker.Error() ? 1 : 0;
      } else {
        RelaunchFromTemp(true);
        exit_code = 0;
      }
    } else {
      worker.OnMessage = &TInstallerThread::LogSilent;
      if (parameters.size() >= 3) {
        std::string folder = Trim(parameters[2]);
        if (!folder.empty()) {
          worker.Vars().Process(folder);
          if (!folder.empty() && folder.back() == '\\') folder.pop_back();
          worker.InstallParameters().SetInstallPath(folder);
        }
      }
      worker.Start();
      WaitServing(worker);
      exit_code = worker.Error() ? 1 : 0;
    }
  }
  if (IsRunningFromTemp()) WriteSelfDeleteBatch();
  return exit_code;
}

int RunProgramMain(const std::vector<std::string>& parameters) {
  MainThreadQueue::Instance().BindToCurrentThread();
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
  TRunHooks hooks{IsRunningFromTemp, [] { RelaunchFromTemp(false); }, WriteSelfDeleteBatch};
  TfmInstaller window(parameters, std::move(hooks), toolkit);
  // An uninstaller that has started its temporary copy ends at once.
  if (!window.ApplicationTerminated()) {
    toolkit.Show(window.Form());
    toolkit.Run(window.Form());
  }
  return 0;
}

}  // namespace volok
