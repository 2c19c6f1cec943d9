// The parsing behind the registry and shortcut commands.
#pragma once

#include <cstdint>
#include <string>

namespace volok {

class TInstallFile;

// A registry request built from an entry: "ROOT\key" in FileName and the
// comma list "name, type, data" in Destination.
struct TInstallReg {
  std::uint32_t Root = 0;  // predefined key value; 0 for an unknown root
  std::string Key;
  std::string ValueName;
  int ValueType = 0;  // 1 REG_SZ, 4 REG_DWORD, 0 unknown
  std::string Value;
};

struct TLinkTarget {
  std::string Program;
  std::string Arguments;
  std::string WorkingFolder;  // with its trailing backslash
};

std::uint32_t RegistryRootByName(const std::string& name);
int RegistryTypeByName(const std::string& name);
// Decimal with an optional sign, or hexadecimal after "$", "x" or "0x";
// leading blanks allowed; 0 for anything else or a number too large.
std::uint32_t RegistryDwordValue(const std::string& text);
TInstallReg ParseRegistryEntry(const TInstallFile& entry);
// "\"C:\App\app.exe\" -min" gives C:\App\app.exe, -min and C:\App\.
TLinkTarget SplitLinkTarget(const std::string& text);
// Creates the link's folder, then writes the link. Throws when the shell's
// link object cannot be created; a link that cannot be saved is no error.
void CreateShellLink(const std::string& link_path, const std::string& target_text);

}  // namespace volok
