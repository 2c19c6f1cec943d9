// Programs that hold files of the install folder: named before an upgrade or
// uninstall moves anything, then closed (on the user's word, or with
// /closeapplications) or the run refused, and started again afterwards.
#include "common/error.h"
#include "common/main_thread.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "platform/process.h"

namespace volok {

namespace {

std::string HolderNames(const std::vector<platform::FileHolder>& holders) {
  std::string names;
  for (const platform::FileHolder& holder : holders)
    names += (names.empty() ? "" : ", ") + holder.Name + " (" + std::to_string(holder.Id) + ")";
  return names;
}

}  // namespace

bool TInstallerThread::EndedByEntries(const platform::FileHolder& holder) {
  std::unique_ptr<platform::Process> process;
  std::string path;
  if (!platform::Processes::Default().Open(holder.Id, process).ok() || !process->ExecutablePath(path).ok())
    return false;
  for (const auto& entry : FInstall->Install())
    if (entry && entry->Action() == "ProcessTerminate" && entry->Check(FInstall->Options()) &&
        LowerCase(entry->FileName()) == LowerCase(path))
      return true;
  return false;
}

void TInstallerThread::CloseFilesInUse(const std::string& folder) {
  std::unique_ptr<platform::HolderSession> session;
  std::vector<platform::FileHolder> found, holders;
  platform::Status status = platform::FileHolders::Default().Open(folder, session);
  if (status.ok()) status = session->Holders(found);
  if (!status.ok()) {
    // Without the list the run goes on as before: a file still held then
    // fails its move, and that says which.
    DoMessage("[InUse] Не удалось узнать, какие программы заняты файлами: " + status.message(), kMessageWarning,
              false);
    return;
  }
  // A description that ends its own program (ProcessTerminate) keeps doing
  // so without being asked. The programs that started this run (the shell
  // or tool in the folder, the uninstaller waiting for its copy) wait for
  // it: they never stop it.
  for (const platform::FileHolder& holder : found)
    if (!holder.Caller && (FUnInstaller || !EndedByEntries(holder))) holders.push_back(holder);
  if (holders.empty()) return;
  const std::string names = HolderNames(holders);
  DoMessage("[InUse] Файлы программы заняты: " + names, kMessageWarning, false);
  bool close = FCloseApplications;
  if (OnFilesInUse) {
    MainThreadQueue::Instance().Call([&] { close = OnFilesInUse(*this, holders); });
    if (!close) throw volok::Error(std::string(FUnInstaller ? "Удаление" : "Установка") +
                                       " отменена: файлы программы заняты: " + names + ".",
                                   kExitCancelled);
  } else if (!close) {
    throw volok::Error("Файлы программы заняты: " + names + ". Закройте их или запустите " +
                           (FUnInstaller ? "удаление" : "установку") + " с /closeapplications.",
                       kExitFatal);
  }
  std::vector<platform::FileHolder> kept;
  for (const platform::FileHolder& holder : holders)
    if (!holder.CanClose) kept.push_back(holder);
  if (!kept.empty()) DoMessage("[InUse] Эти программы закрыть нельзя: " + HolderNames(kept), kMessageWarning, false);
  platform::Status closed = session->Close();
  if (closed.ok())
    DoMessage("[InUse] Программы закрыты.", kMessageTrace, false);
  else
    DoMessage("[InUse] Не удалось закрыть программы: " + closed.message(), kMessageWarning, false);
  FHolders = std::move(session);
}

void TInstallerThread::RestartClosedApplications() {
  if (!FHolders) return;
  std::unique_ptr<platform::HolderSession> session = std::move(FHolders);
  if (!FRestartApplications) return;
  platform::Status restarted = session->Restart();
  try {
    if (restarted.ok())
      DoMessage("[InUse] Закрытые программы запущены снова.", kMessageTrace, false);
    else
      DoMessage("[InUse] Не удалось запустить закрытые программы снова: " + restarted.message(), kMessageWarning,
                false);
  } catch (...) {
    // The run has ended; a handler failing on this line changes nothing.
  }
}

}  // namespace volok
