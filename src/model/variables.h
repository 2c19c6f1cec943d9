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
  // Replaces placeholders in the entry's FileName and Destination only.
  void Process(TInstallFile& file) const;
  // Adds the 31 shell folder variables and Temp, in substitution order.
  void ReadSystemPaths();
  // The current values of those 32 variables, empty ones left out: the
  // folders an install must never take over.
  std::vector<std::string> SystemFolders() const;

  const std::vector<TVariable>& Variables() const { return FVariables; }

 private:
  void ReplaceVar(std::size_t index, std::string& text) const;

  std::vector<TVariable> FVariables;
};

}  // namespace volok
