// The two dispatch tables: entry actions to the worker's commands, and build
// items (file type and action) to the builder's handlers. Neither owns the
// objects its handlers are bound to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace volok {

class TInstallFile;

using TCommandAction = std::function<void(TInstallFile& InstallFile)>;

struct TCommand {
  std::string Name;
  TCommandAction Proc;
};

class TCommands final {
 public:
  // Names are not checked for repeats: the first registration wins.
  void Add(const std::string& name, TCommandAction proc);
  // Runs the command registered first under the entry's Action (ignoring
  // case). An unknown action, a missing handler, or an Arch that is set and
  // differs exactly from this table's Arch skips the entry silently.
  // Errors of the handler pass through.
  void Process(TInstallFile& file) const;

  // The platform the engine runs on: "x86-64" or "x86".
  std::string Arch;

 private:
  std::vector<TCommand> FCommands;
};

// True when `action` (ignoring case) is one of the engine's thirteen entry
// commands; the builder warns about any other, which the engine skips.
bool IsEntryCommand(const std::string& action);

using TInstallActionProc =
    std::function<void(const std::string& fn, const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32)>;

struct TInstallAction {
  std::string FileType;
  std::string Action;
  TInstallActionProc Proc;
};

class TInstallActions final {
 public:
  void Add(const std::string& ftype, const std::string& fact, TInstallActionProc proc);
  // Runs the handler of the first pair matching ftype and fact (ignoring
  // case). Throws Error when no pair matches or the match has no handler.
  void Process(const std::string& ftype, const std::string& fact, const std::string& fn, const std::string& outfn,
               std::uint32_t& fsz, std::uint32_t& crc32) const;

 private:
  std::vector<TInstallAction> FActions;
};

}  // namespace volok
