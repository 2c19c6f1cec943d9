// The backup that makes an upgrade all or nothing. Everything the earlier
// installation left in the install folder is moved into its "Backup"
// subfolder before the new files are written; when the run then fails or is
// cancelled, the folder is put back exactly as it was, and only a run that
// completed may send the earlier backup to the Recycle Bin.
#pragma once

#include <string>
#include <vector>

namespace volok {

class TUpgradeBackup final {
 public:
  // `folder` is the absolute install folder, which exists.
  explicit TUpgradeBackup(std::string folder);

  // Moves every entry of the folder into a fresh folder that then becomes
  // "Backup" (an earlier "Backup" ends up inside it). An empty folder makes
  // no backup. Every move must succeed: a file left behind could be
  // overwritten and then not be restored. On a failure the moved entries go
  // back and "Невозможно создать каталог для резервного копирования." is
  // raised (with what was left where, should even that fail).
  void MoveAside();
  // The run completed: the earlier backup goes to the Recycle Bin.
  void Commit();
  // The run failed: the folder gets its earlier content back, the failed
  // run's log lines appended to its "setup.log", and what the run wrote is
  // deleted. Answers "" when done, or, when a step fails, a text saying what
  // was left where (nothing is deleted then).
  std::string Restore();

  bool Made() const { return FMade; }

 private:
  std::string FFolder;  // with a trailing delimiter
  bool FMade = false;
};

}  // namespace volok
