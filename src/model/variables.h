// The variable table: named values that replace "{Name}" placeholders in
// description texts, installed text files and the wizard's captions.
#pragma once

#include <string>
#include <vector>

namespace volok {

class TInstallFile;

struct TVariable {
  std::string Name;
  std::string Value;
};

// Not locked: the wizard fills it on the main thread before the worker
// starts, and only the worker uses it afterwards.
class TVariables final {
 public:
  // Index of the variable whose name equals `name` ignoring case, or -1.
  int Find(const std::string& name) const;
  // Appends the variable, or only replaces the value of one whose name
  // matches ignoring case (it keeps its first spelling and its position).
  void Add(const std::string& name, const std::string& value);
  // Replaces the placeholders of every variable, in table order. A
  // placeholder is the variable's name exactly as first added, in braces.
  void Process(std::string& text) const;
  std::string ProcessF(const std::string& text) const;
  // The same for a path: a placeholder matches the name with ASCII letters
  // in either case ("{installpath}"), as Windows users expect of names in
  // paths; texts and text files keep exact matching.
  void ProcessPath(std::string& text) const;
  // Replaces placeholders in the entry's FileName and Destination only, as
  // paths.
  void Process(TInstallFile& file) const;
  // The names every install defines: the shell folders, Temp, InstallerPath,
  // SID and the description's own Company, Name, ShortName, Version and
  // InstallPath (combo options add their own names).
  static std::vector<std::string> StandardNames();
  // Adds the 31 shell folder variables and Temp, in substitution order.
  void ReadSystemPaths();
  // The current values of those 32 variables, empty ones left out: the
  // folders an install must never take over.
  std::vector<std::string> SystemFolders() const;

  const std::vector<TVariable>& Variables() const { return FVariables; }

 private:
  void ReplaceVar(std::size_t index, std::string& text, bool fold) const;

  std::vector<TVariable> FVariables;
};

// The "{…}" placeholders of `text` that name none of `known` (compared with
// ASCII letters in either case when `ignore_case`), in order of appearance.
std::vector<std::string> UnknownPlaceholders(const std::string& text, const std::vector<std::string>& known,
                                             bool ignore_case);

}  // namespace volok
