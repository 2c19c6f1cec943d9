#include "engine/deferred_writes.h"

#include "common/file_utils.h"
#include "common/text.h"
#include "engine/run_recovery.h"

namespace volok {

using platform::Status;

TDeferredWrites::TDeferredWrites(platform::FileSystem& target, TRunJournal& journal)
    : FileSystemWrapper(target), FJournal(journal) {
  const std::string folder = IncludeTrailingDelimiter(journal.State().Folder);
  for (const std::string& kept : journal.State().Kept) FKept[LowerCase(folder + kept)] = kept;
  for (const std::string& deferred : journal.State().Deferred) FDeferred.insert(LowerCase(deferred));
}

std::string TDeferredWrites::KeptRelative(const std::string& path) const {
  auto found = FKept.find(LowerCase(path));
  return found == FKept.end() ? std::string() : found->second;
}

Status TDeferredWrites::Defer(const std::string& relative, const std::string& target, const std::string& beside) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FDeferred.count(LowerCase(relative))) return Status::Ok();
  FJournal.State().Deferred.push_back(relative);
  try {
    FJournal.Save();
  } catch (const std::exception& error) {
    FJournal.State().Deferred.pop_back();
    return Status::Failure(error.what());
  }
  Status requested = FTarget.MoveAtRestart(beside, target);
  if (!requested.ok()) return requested;  // the run fails; its rollback removes the file beside
  FDeferred.insert(LowerCase(relative));
  return Status::Ok();
}

Status TDeferredWrites::OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                                 std::unique_ptr<platform::File>& file) {
  const std::string relative = access == platform::FileAccess::CreateAlways ? KeptRelative(path) : std::string();
  if (relative.empty()) return FTarget.OpenFile(path, access, share, file);
  const std::string beside = DeferredName(path, FJournal.State().RunId);
  Status opened = FTarget.OpenFile(beside, access, share, file);
  if (!opened.ok()) return opened;
  Status deferred = Defer(relative, path, beside);
  if (!deferred.ok()) file.reset();
  return deferred;
}

Status TDeferredWrites::CopyFileOver(const std::string& source, const std::string& target) {
  const std::string relative = KeptRelative(target);
  if (relative.empty()) return FTarget.CopyFileOver(source, target);
  const std::string beside = DeferredName(target, FJournal.State().RunId);
  Status copied = FTarget.CopyFileOver(source, beside);
  return copied.ok() ? Defer(relative, target, beside) : copied;
}

Status TDeferredWrites::MoveFileReplace(const std::string& source, const std::string& target) {
  const std::string relative = KeptRelative(target);
  if (relative.empty()) return FTarget.MoveFileReplace(source, target);
  const std::string beside = DeferredName(target, FJournal.State().RunId);
  Status moved = FTarget.MoveFileReplace(source, beside);
  return moved.ok() ? Defer(relative, target, beside) : moved;
}

}  // namespace volok
