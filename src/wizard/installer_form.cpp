#include "wizard/installer_form.h"

#include "common/error.h"
#include "common/file_utils.h"
#include "common/main_thread.h"
#include "common/text.h"

namespace volok {

namespace {

// The log view as the log writer sees it.
class TRichLogView final : public TLogView {
 public:
  explicit TRichLogView(ui::TRichLog& view) : FView(view) {}
  void AppendLine(const std::string& line, std::uint32_t color) override { FView.AppendLine(line, color); }

 private:
  ui::TRichLog& FView;
};

ui::TColor MessageColor(int message_type) {
  switch (message_type) {
    case kMessageDone: return ui::Rgb(0, 128, 0);
    case kMessageError: return ui::Rgb(255, 0, 0);
    case kMessageWarning: return ui::Rgb(128, 0, 0);
    case kMessageTrace: return ui::Rgb(0, 0, 255);
    default: return ui::kBlack;
  }
}

unsigned MessageIcon(int message_type) {
  if (message_type == kMessageError) return ui::kMbIconError;
  if (message_type == kMessageWarning) return ui::kMbIconWarning;
  return ui::kMbIconInformation;
}

enum Page { kPageIntroI = 0, kPageIntroU = 1, kPageQuery = 2, kPageLog = 3 };

}  // namespace

TfmInstaller::TfmInstaller(const std::vector<std::string>& parameters, TRunHooks hooks, ui::TToolkit& toolkit,
                           TPackageBuild build)
    : FHooks(std::move(hooks)), FToolkit(toolkit), FBuild(std::move(build)) {
  CreateComponents();
  FLogView = std::make_unique<TRichLogView>(*reLog);
  FForm->OnCloseQuery = [this](bool& can_close) { FormCloseQuery(can_close); };
  FForm->OnWake = [] { MainThreadQueue::Instance().Drain(); };
  ui::TForm* form = FForm.get();
  MainThreadQueue::Instance().SetWakeUp([&toolkit, form] { toolkit.Wake(*form); });
  btNext->OnClick = [this] { btNextClick(); };
  btCancel->OnClick = [this] { btCancelClick(); };
  btSelectFolder->OnClick = [this] { btSelectFolderClick(); };
  btCreate->OnClick = [this] { btCreateClick(); };
  // Enter: "Далее", or "Создать" once it is the only action left.
  FForm->SetDefaultButtons({btNext, btCreate});
  FForm->SetCancelButton(btCancel);
  FormCreate(parameters);
  FocusPage();
}

TfmInstaller::~TfmInstaller() {
  // The worker's destructor serves its pending main-thread calls until its
  // body ends, so a worker still running cannot deadlock here.
  // Read first: it asks the worker, which goes next.
  const int exit_code = FIThread && FIThread->Running() ? kExitCancelled : ExitCode();
  FIThread.reset();
  MainThreadQueue::Instance().SetWakeUp(nullptr);
  if (FHooks.IsRunningFromTemp && FHooks.IsRunningFromTemp() && FHooks.WriteSelfDeleteBatch)
    FHooks.WriteSelfDeleteBatch(exit_code);
}

// A page's first field or option, else the default button: what a keyboard
// user acts on next.
void TfmInstaller::FocusPage() {
  auto* page = static_cast<ui::TContainer*>(nbPages->Children()[static_cast<size_t>(nbPages->PageIndex())].get());
  if (FForm->FocusFirstIn(*page)) return;
  if (ui::TControl* button = FForm->DefaultButton())
    FForm->SetFocus(button);
  else
    FForm->EnsureFocus();
}

void TfmInstaller::ShowPage(int index) {
  nbPages->SetPageIndex(index);
  FocusPage();
}

void TfmInstaller::FormCreate(const std::vector<std::string>& parameters) {
  nbPages->SetPageIndex(kPageIntroI);
  FIThread = std::make_unique<TInstallerThread>(FHooks.Scope);
  if (FIThread->Error()) {
    btNext->SetVisible(false);
    Log(FIThread->Message(), kMessageError, FIThread->MessageFatal(), false);
    nbPages->SetPageIndex(kPageLog);
  } else {
    AttachWorker();
    if (FIThread->UnInstaller()) {
      nbPages->SetPageIndex(kPageIntroU);
      FIThread->OnMessage = [this](TInstallerThread& s, const std::string& m, int t, bool f) { ThreadLogU(s, m, t, f); };
      if (!(FHooks.IsRunningFromTemp && FHooks.IsRunningFromTemp())) {
        if (FHooks.RelaunchFromTemp) FHooks.RelaunchFromTemp();
        FApplicationTerminated = true;
      }
    } else {
      BuildOptionsPanel();
    }
  }
  FForm->SetText(FForm->Text() + " (" + (FIThread->Win64() ? "x86-64" : "x86") + ")");
  ReplacePlaceholders();
  edPath->SetText(FIThread->InstallParameters().InstallPath());
  // Not trimmed: " create" does not offer the builder.
  btCreate->SetVisible(parameters.size() >= 2 && LowerCase(parameters[1]) == "create");
}

void TfmInstaller::AttachWorker() {
  auto& worker = *FIThread;
  worker.OnMessage = [this](TInstallerThread& s, const std::string& m, int t, bool f) { ThreadLogI(s, m, t, f); };
  worker.OnStart = [this](TInstallerThread& s) { ThreadStart(s); };
  worker.OnStop = [this](TInstallerThread& s) { ThreadStop(s); };
  worker.OnProgressStart = [this](TInstallerThread& s, int steps) { ThreadProgressStart(s, steps); };
  worker.OnProgressStep = [this](TInstallerThread& s) { ThreadProgressStep(s); };
  worker.OnFilesInUse = [this](TInstallerThread& s, const std::vector<platform::FileHolder>& holders) {
    return ThreadFilesInUse(s, holders);
  };
}

// The user closes the programs or cancels; what is closed comes back once
// the run has ended, as it was before.
bool TfmInstaller::ThreadFilesInUse(TInstallerThread& sender, const std::vector<platform::FileHolder>& holders) {
  std::string names;
  for (const platform::FileHolder& holder : holders)
    names += "\r\n" + holder.Name + " (" + std::to_string(holder.Id) + ")";
  const std::string question = "Файлы программы заняты другими программами:" + names +
                               "\r\n\r\nЗакрыть их и продолжить? После " +
                               (sender.UnInstaller() ? "удаления" : "установки") +
                               " они будут запущены снова.\r\n«Нет» отменяет " +
                               (sender.UnInstaller() ? "удаление." : "установку.");
  int answer = FToolkit.ShowMessageBox(FForm.get(), question, kApplicationTitle, ui::kMbYesNo | ui::kMbIconQuestion);
  if (answer != ui::kIdYes) return false;
  sender.SetRestartApplications(true);
  return true;
}

void TfmInstaller::ReplacePlaceholders() {
  for (ui::TLabel* label : {lbName, lbVersion, lbIntroIName1, lbIntroIName2, lbIntroUName1, lbIntroUName2})
    label->SetText(FIThread->Vars().ProcessF(label->Text()));
}

void TfmInstaller::Log(const std::string& message, int message_type, bool is_fatal, bool to_file) {
  WriteLogLine(message, FLogView.get(), MessageColor(message_type), 65001, to_file);
  if (is_fatal && !FPassive) FToolkit.ShowMessageBox(FForm.get(), message, kApplicationTitle, ui::kMbOk | MessageIcon(message_type));
}

void TfmInstaller::ThreadLogI(TInstallerThread&, const std::string& message, int message_type, bool is_fatal) {
  Log(message, message_type, is_fatal, true);
}

void TfmInstaller::ThreadLogU(TInstallerThread&, const std::string& message, int message_type, bool is_fatal) {
  Log(message, message_type, is_fatal, false);
}

void TfmInstaller::ThreadStart(TInstallerThread&) {
  btNext->SetEnabled(false);
  FForm->EnsureFocus();
}

void TfmInstaller::ThreadStop(TInstallerThread&) {
  btNext->SetEnabled(true);
  btNext->SetVisible(false);
  FForm->EnsureFocus();
  if (FPassive) {
    FPassiveDone = true;
    FForm->Close();
  }
}

void TfmInstaller::ThreadProgressStart(TInstallerThread&, int steps_count) {
  pbProgress->Restart(steps_count);
  pbProgress->SetVisible(true);
}

void TfmInstaller::ThreadProgressStep(TInstallerThread&) { pbProgress->StepIt(); }

void TfmInstaller::btNextClick() {
  std::string folder = ExcludeTrailingDelimiter(Trim(edPath->Text()));
  switch (nbPages->PageIndex()) {
    case kPageIntroI: ShowPage(kPageQuery); break;
    // The uninstaller's folder is its description's own, not the user's.
    case kPageIntroU: StartWorker(folder); break;
    case kPageQuery:
      if (AcceptInstallFolder(folder)) StartWorker(folder);
      break;
    default: FForm->Close(); break;
  }
}

// An installer runs elevated: a drive root, a system folder or the like is
// refused here, while the user can still choose another, and the worker gets
// the folder as an absolute path.
bool TfmInstaller::AcceptInstallFolder(std::string& folder) {
  if (FIThread->Error() || FWorkerStarted) return false;
  try {
    folder = FIThread->CheckInstallFolder(folder);
    return true;
  } catch (const Error& error) {
    FToolkit.ShowMessageBox(FForm.get(), error.what(), kApplicationTitle, ui::kMbOk | ui::kMbIconError);
    FForm->SetFocus(edPath);
    return false;
  }
}

void TfmInstaller::StartWorker(const std::string& folder) {
  // The worker runs at most once per window; a second click (before the
  // start event has disabled the button) must not start it again.
  if (FIThread->Error() || FWorkerStarted) return;
  FWorkerStarted = true;
  auto& description = FIThread->InstallParameters();
  description.SetInstallPath(folder);
  description.Options().SetDelimitedText(ReadOptionsPanel());
  ShowPage(kPageLog);
  FIThread->Start();
}

void TfmInstaller::btCancelClick() { FForm->Close(); }

bool TfmInstaller::RunPassive() {
  FPassive = true;
  if (FApplicationTerminated) return false;
  if (FIThread->Error()) {
    FPassiveRefused = true;
    return false;
  }
  std::string folder = ExcludeTrailingDelimiter(Trim(edPath->Text()));
  if (!FIThread->UnInstaller()) {
    try {
      folder = FIThread->CheckInstallFolder(folder);
    } catch (const Error& error) {
      FPassiveRefused = true;
      Log(error.what(), kMessageError, true, true);
      return false;
    }
  }
  StartWorker(folder);
  return true;
}

void TfmInstaller::WaitForRun() {
  if (FWorkerStarted) MainThreadQueue::Instance().ServeUntil([this] { return FIThread->Finished(); });
}

int TfmInstaller::ExitCode() const {
  if (FApplicationTerminated) return 0;
  // A description that could not be read is a failure, whether or not the
  // user closed the window on it.
  if (!FIThread || (FIThread->Error() && !FWorkerStarted) || FPassiveRefused) return kExitFatal;
  // A window closed before the run started, or while it still ran, was
  // the user's cancel.
  bool finished = FWorkerStarted && FIThread->Finished();
  return finished ? FIThread->ExitCode() : kExitCancelled;
}

void TfmInstaller::FormCloseQuery(bool& can_close) {
  can_close = true;
  // A passive run closes its window from its stop event, while the worker
  // still counts as running.
  if (!FIThread->Running() || FPassiveDone) return;
  can_close = false;
  int answer = FToolkit.ShowMessageBox(FForm.get(), "Вы уверены, что хотите прервать процесс установки?",
                                   kApplicationTitle, ui::kMbYesNo | ui::kMbIconQuestion);
  if (answer == ui::kIdYes && FIThread->Running()) FIThread->Terminate();
}

void TfmInstaller::btSelectFolderClick() {
  std::string path = Trim(edPath->Text());
  if (FToolkit.BrowseForFolder(FForm.get(), "Выберите папку для установки", path))
    edPath->SetText(ExcludeTrailingDelimiter(path));
}

void TfmInstaller::btCreateClick() {
  btNext->SetVisible(false);
  ShowPage(kPageLog);
  if (FBuild) FBuild(*this, "installer.xml", "output-installer");
}

}  // namespace volok
