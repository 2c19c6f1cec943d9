#include "model/command_tables.h"

#include "common/error.h"
#include "common/text.h"
#include "model/install_file.h"

namespace volok {

void TCommands::Add(const std::string& name, TCommandAction proc) { FCommands.push_back({name, std::move(proc)}); }

void TCommands::Process(TInstallFile& file) const {
  std::string action = LowerCase(file.Action());
  for (const TCommand& command : FCommands) {
    if (LowerCase(command.Name) != action) continue;
    // The platform text is matched exactly: "X86-64" fits nowhere.
    if (!file.Arch().empty() && file.Arch() != Arch) return;
    if (command.Proc) command.Proc(file);
    return;
  }
}

bool IsEntryCommand(const std::string& action) {
  static const char* const kNames[] = {"UnZip",   "Copy",       "Copy2",        "CopyText",         "ProcessText",
                                       "Run",     "RunWait",    "Link",         "DeleteFile",       "DeleteFolder",
                                       "ProcessTerminate", "RegistryWrite", "RegistryDelete"};
  std::string wanted = LowerCase(action);
  for (const char* name : kNames)
    if (LowerCase(name) == wanted) return true;
  return false;
}

void TInstallActions::Add(const std::string& ftype, const std::string& fact, TInstallActionProc proc) {
  FActions.push_back({ftype, fact, std::move(proc)});
}

void TInstallActions::Process(const std::string& ftype, const std::string& fact, const std::string& fn,
                              const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32) const {
  std::string type = LowerCase(ftype), action = LowerCase(fact);
  for (const TInstallAction& entry : FActions) {
    if (LowerCase(entry.FileType) != type || LowerCase(entry.Action) != action) continue;
    if (!entry.Proc)
      throw Error("Недопустимый указатель на процедуру выполнения для исходного файла: " + fn + ".");
    entry.Proc(fn, outfn, fsz, crc32);
    return;
  }
  throw Error("Недопустимый тип или действие для исходного файла: " + fn + ".");
}

}  // namespace volok
