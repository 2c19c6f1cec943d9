// The setup wizard: the only window of the program. It owns the worker for
// its whole life, shows the welcome, options and log pages, shows every
// worker message as a coloured line (fatal ones in a message box too),
// drives the progress bar, refuses to close while the worker runs, and
// offers the package builder's "Создать" button when started with "create".
//
// Threads: every method runs on the main thread; the worker's events reach
// it through MainThreadQueue, which the form's loop serves.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/log_writer.h"
#include "engine/installer_thread.h"
#include "platform/ui/toolkit.h"

namespace volok {

namespace ui = platform::ui;

class TfmInstaller;

// The caption of every message box the program shows.
inline constexpr char kApplicationTitle[] = "Установка";

// Builds one package from a build description into an output folder,
// reporting through the window's Log. Never lets an error escape.
using TPackageBuild =
    std::function<void(TfmInstaller& window, const std::string& file_name, const std::string& output_folder)>;
// The builder the window uses unless a test sets another.
TPackageBuild DefaultPackageBuild();

// The entry point's relaunch helpers (they live above the window).
struct TRunHooks {
  std::function<bool()> IsRunningFromTemp;
  std::function<void()> RelaunchFromTemp;  // not silent
  // Given the run's exit code: the batch removes the moved original only
  // after a run that completed.
  std::function<void(int exit_code)> WriteSelfDeleteBatch;
  // The run's /allusers or /currentuser switch, for the worker's scope.
  TScopeSwitch Scope = TScopeSwitch::None;
};

class TfmInstaller final {
 public:
  // Creates the window's controls and the worker (FormCreate). `parameters`
  // is the command line, parameter 0 the program.
  TfmInstaller(const std::vector<std::string>& parameters, TRunHooks hooks,
               ui::TToolkit& toolkit = ui::TToolkit::Default(), TPackageBuild build = DefaultPackageBuild());
  // FormDestroy: the worker, then the self-delete batch when running from
  // the temporary folder.
  ~TfmInstaller();
  TfmInstaller(const TfmInstaller&) = delete;
  TfmInstaller& operator=(const TfmInstaller&) = delete;

  ui::TForm& Form() { return *FForm; }
  // An uninstaller outside the temporary folder has started its copy: the
  // window must close without running its loop.
  bool ApplicationTerminated() const { return FApplicationTerminated; }
  // The process's exit code, as the silent run's: the worker's once its run
  // ended; 0 when the uninstaller's copy was started (the entry point then
  // answers the copy's); kExitCancelled when the user closed the window
  // before the run started or while it ran; kExitFatal when the description
  // was unreadable.
  int ExitCode() const;
  TInstallerThread& Worker() { return *FIThread; }
  // /passive: starts the run at once into the folder the page shows (or the
  // uninstall), asks nothing and shows no message box; the window closes
  // itself when the run has ended. False when the run cannot start (the
  // description unreadable, the folder refused): the reason is logged, the
  // window need not be shown, and ExitCode() is kExitFatal.
  bool RunPassive();
  // Serves the worker until a run that was started has ended, so ExitCode()
  // reads its outcome.
  void WaitForRun();

  // Shows one message in the log view, optionally writes it to the log file
  // and optionally shows it in a message box (returns once it is closed).
  void Log(const std::string& message, int message_type, bool is_fatal, bool to_file);

  // The controls, by their names.
  ui::TLabel* lbName = nullptr;
  ui::TLabel* lbVersion = nullptr;
  ui::TButton* btCreate = nullptr;
  ui::TButton* btNext = nullptr;
  ui::TButton* btCancel = nullptr;
  ui::TPageSet* nbPages = nullptr;
  ui::TLabel* lbIntroIName1 = nullptr;
  ui::TLabel* lbIntroIName2 = nullptr;
  ui::TLabel* lbIntroUName1 = nullptr;
  ui::TLabel* lbIntroUName2 = nullptr;
  ui::TEdit* edPath = nullptr;
  ui::TButton* btSelectFolder = nullptr;
  ui::TPanel* sbParams = nullptr;
  ui::TRichLog* reLog = nullptr;
  ui::TProgressBar* pbProgress = nullptr;

  // The options panel's control for an option or group panel name
  // ("btParams" + option name, "pnParams" + group name), ignoring case.
  ui::TControl* FindParamControl(const std::string& name) const;

 private:
  // Window construction, in form_components.cpp.
  void CreateComponents();
  void CreateTitle();
  void CreateBottom();
  void CreatePages();
  void CreateIntroPage(bool install);
  void CreateQueryPage();
  void CreateLogPage();

  void FormCreate(const std::vector<std::string>& parameters);
  void ShowPage(int index);
  void FocusPage();
  void AttachWorker();
  void ReplacePlaceholders();
  void FormCloseQuery(bool& can_close);
  void btNextClick();
  void btCancelClick();
  void btSelectFolderClick();
  void btCreateClick();
  bool AcceptInstallFolder(std::string& folder);
  void StartWorker(const std::string& folder);

  void ThreadLogI(TInstallerThread& sender, const std::string& message, int message_type, bool is_fatal);
  void ThreadLogU(TInstallerThread& sender, const std::string& message, int message_type, bool is_fatal);
  void ThreadStart(TInstallerThread& sender);
  void ThreadStop(TInstallerThread& sender);
  void ThreadProgressStart(TInstallerThread& sender, int steps_count);
  void ThreadProgressStep(TInstallerThread& sender);
  bool ThreadFilesInUse(TInstallerThread& sender, const std::vector<platform::FileHolder>& holders);

  // The options panel, in options_panel.cpp.
  void BuildOptionsPanel();
  void AddGroupPanel(const TInstallGroup& group);
  ui::TContainer& FindGroupPanel(const std::string& group_name);
  void AddRadioOption(const TInstallOption& option, bool checked);
  void AddCheckOption(const TInstallOption& option, bool checked);
  void AddComboOption(const TInstallOption& option, const std::string& values);
  void AddParamControl(ui::TContainer& container, std::unique_ptr<ui::TControl> control);
  std::string ReadOptionsPanel();

  TRunHooks FHooks;
  ui::TToolkit& FToolkit;
  TPackageBuild FBuild;
  std::unique_ptr<ui::TForm> FForm;
  std::unique_ptr<TInstallerThread> FIThread;
  std::unique_ptr<TLogView> FLogView;
  // Lower-cased control names of the options panel: option and group names
  // need not be identifiers.
  std::map<std::string, ui::TControl*> FParamControls;
  bool FApplicationTerminated = false;
  bool FWorkerStarted = false;
  bool FPassive = false;
  bool FPassiveRefused = false;
  bool FPassiveDone = false;
};

}  // namespace volok
