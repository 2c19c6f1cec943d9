// The file system as an upgrade sees it while programs hold some of the
// earlier files (the journal's Kept): a write that would replace a kept file
// goes to "<file>.volok-<run id>.new" beside it instead, and the system is
// asked to move that over the kept file at the next restart. The journal
// records each such file (Deferred) before the request, so a rollback knows
// whether a restart already replaced it. Everything else is forwarded.
// Thread-safe: the unpacking's workers write through it at once.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "engine/run_journal.h"
#include "platform/file_system.h"

namespace volok {

class TDeferredWrites final : public platform::FileSystemWrapper {
 public:
  TDeferredWrites(platform::FileSystem& target, TRunJournal& journal);

  platform::Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                            std::unique_ptr<platform::File>& file) override;
  platform::Status CopyFileOver(const std::string& source, const std::string& target) override;
  platform::Status MoveFileReplace(const std::string& source, const std::string& target) override;

 private:
  // The kept file's path relative to the install folder, or "".
  std::string KeptRelative(const std::string& path) const;
  // Once the new version lies at `beside`: journalled, then requested.
  platform::Status Defer(const std::string& relative, const std::string& target, const std::string& beside);

  TRunJournal& FJournal;
  std::map<std::string, std::string> FKept;  // folded full path -> relative path
  std::set<std::string> FDeferred;           // relative paths already requested
  std::mutex FLock;
};

}  // namespace volok
