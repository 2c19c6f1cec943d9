// The small text parsers that descriptions and command lines feed: option and
// value lists, registry entries, link targets, command lines, placeholders.
#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "engine/system_commands.h"
#include "model/install_file.h"
#include "model/string_list.h"
#include "model/variables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  volok::TStringList list;
  list.SetDelimitedText(text);
  volok::TInstallFile entry;
  entry.SetFileName(text);
  entry.SetDestination(text);
  (void)volok::ParseRegistryEntry(entry);
  (void)volok::SplitLinkTarget(text);
  (void)volok::RegistryDwordValue(text);
  (void)volok::SplitCommandLine(text);
  // Values that re-form their own placeholders must still end.
  volok::TVariables vars;
  vars.Add("Name", text.substr(0, size / 2));
  vars.Add("A", "{Name}{A}");
  (void)vars.ProcessF(text);
  return 0;
}
