// The worker's side of the run journal: taking it, recovering a killed
// run, and the begin, commit, rollback and clean-up of its own run.
#include <algorithm>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "engine/journal_bounds.h"
#include "engine/run_recovery.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/runtime.h"

namespace volok {

void TInstallerThread::OpenJournal() {
  try {
    FJournal =
        std::make_unique<TRunJournal>(platform::JournalPlace(FScope == TInstallScope::User), FInstall->ShortName());
  } catch (const volok::Error& error) {
    FAnotherRun = error.what() == std::string(kAnotherRunMessage);
    // A journal folder a user may not create is the missing rights, said
    // as the run would say them.
    if (!FAnotherRun && FScope == TInstallScope::Machine && !HasAdminRights("")) throw volok::Error(kNoRightsMessage);
    throw;
  }
  std::size_t told = 0;
  auto tell = [&] {
    for (; told < FJournal->Notes().size(); ++told)
      DoMessage("[Recovery] " + FJournal->Notes()[told], kMessageWarning, false);
  };
  tell();
  const bool interrupted = FJournal->LoadInterrupted();
  tell();
  if (interrupted && BoundInterrupted()) RecoverInterrupted();
}

bool TInstallerThread::BoundInterrupted() {
  TJournalState& state = FJournal->State();
  const TRunTargets targets =
      RunTargets(FInstall->Install(), FInstall->UnInstall(), FVars, state.Folder, RegistrationRoot(),
                 RegistrationKey(*FInstall));
  std::vector<std::string> refused;
  std::string why;
  const bool bounded = BoundJournal(state, DeleteGuard(), targets, refused, why);
  for (const std::string& line : refused) DoMessage("[Recovery] " + line, kMessageWarning, false);
  if (bounded) return true;
  FJournal->Refuse(why);
  DoMessage("[Recovery] " + FJournal->Notes().back(), kMessageWarning, false);
  return false;
}

void TInstallerThread::Recover() {
  OpenJournal();
  FJournal.reset();
}

void TInstallerThread::RecoverInterrupted() {
  const TJournalState& state = FJournal->State();
  const std::string run = state.UnInstall ? "удаление" : "установка";
  DoMessage("[Recovery] Найдена прерванная " + run + " (папка \"" + state.Folder + "\"): " +
                (state.Committed ? "завершение." : "возврат к состоянию до её начала."),
            kMessageWarning, false);
  std::vector<std::string> report;
  bool finished = true;
  if (state.Committed)
    finished = RollForward(state, report);
  else
    RollBack(state, report);  // a failure keeps the journal for the next start
  for (const std::string& line : report) DoMessage("[Recovery] " + line, kMessageTrace, false);
  // What is left to finish does not stop this run; the next start tries again.
  if (finished) FJournal->Remove();
  FJournal->State() = TJournalState();
}

void TInstallerThread::BeginJournal(const TJournalState& state) {
  FJournal->State() = state;
  FJournal->Save();
}

void TInstallerThread::CommitJournal() {
  auto& files = platform::FileSystem::Default();
  const TJournalState& state = FJournal->State();
  // What the run wrote, whole: the install folder in one call (thousands of
  // files), each file written elsewhere; then every folder whose entries
  // the run renamed.
  std::vector<std::string> trees, folders;
  if (!state.UnInstall && files.FolderExists(state.Folder)) trees.push_back(state.Folder);
  for (const TAsideMove& move : state.Asides) {
    if (!state.UnInstall && files.FileExists(move.Original)) trees.push_back(move.Original);
    folders.push_back(ExcludeTrailingDelimiter(ExtractFilePath(move.Original)));
  }
  auto flush = [](const std::vector<std::string>& paths, auto call) {
    std::vector<std::string> done;
    for (const std::string& path : paths) {
      if (std::find(done.begin(), done.end(), LowerCase(path)) != done.end()) continue;
      done.push_back(LowerCase(path));
      platform::Status flushed = call(path);
      if (!flushed.ok()) throw volok::Error("Не удалось сохранить изменения на диске: " + flushed.message());
    }
  };
  flush(trees, [&files](const std::string& path) { return files.FlushTree(path); });
  flush(folders, [&files](const std::string& path) {
    return files.FolderExists(path) ? files.FlushFolder(path) : platform::Status::Ok();
  });
  // The registry the run changed, too: Windows writes hives lazily.
  std::vector<platform::RegistryRoot> roots;
  for (const TKeySnapshot& key : FJournal->State().Keys) roots.push_back(key.Root);
  for (const TValueSnapshot& value : FJournal->State().RegistryValues) roots.push_back(value.Root);
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  for (platform::RegistryRoot root : roots) (void)platform::Registry::Default().Flush(root);
  FJournal->State().Committed = true;
  try {
    FJournal->Save();
  } catch (...) {
    FJournal->State().Committed = false;  // not recorded: the run is taken back
    throw;
  }
}

void TInstallerThread::RollBackRun() {
  if (!FJournal || FJournal->State().Folder.empty() || FJournal->State().Committed) return;
  std::vector<std::string> report;
  try {
    RollBack(FJournal->State(), report);
  } catch (...) {
    // The journal stays: the next start tries again.
    DoMessage(CurrentExceptionMessage(), kMessageError, false);
    return;
  }
  FJournal->Remove();
  FJournal->State() = TJournalState();
}

bool TInstallerThread::FinishRun() {
  std::vector<std::string> report, at_restart;
  bool finished = RollForward(FJournal->State(), report, &at_restart);
  for (const std::string& line : report) DoMessage(line, kMessageWarning, false);
  if (!at_restart.empty()) {
    ReportAtRestart(at_restart);
    FRestartNeeded = true;
  }
  try {
    if (finished) FJournal->Remove();
  } catch (...) {
    // The run has happened; the next start only finishes the clean-up again.
    DoMessage(CurrentExceptionMessage(), kMessageWarning, false);
  }
  FJournal.reset();
  return finished;
}

}  // namespace volok
