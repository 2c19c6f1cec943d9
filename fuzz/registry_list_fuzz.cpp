// The registry commands' operands: "ROOT\key" and the comma list
// "name, type, data", and the number text of a DWORD value.
#include <cstring>

#include "engine/system_commands.h"
#include "fuzz_support.h"
#include "model/install_file.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  size_t line = text.find('\n');
  volok::TInstallFile entry;
  entry.SetFileName(text.substr(0, line));
  entry.SetDestination(line == std::string::npos ? text : text.substr(line + 1));
  volok::TInstallReg request = volok::ParseRegistryEntry(entry);
  Expect(request.ValueType == 0 || request.ValueType == 1 || request.ValueType == 4, "known value type");
  (void)volok::RegistryDwordValue(request.Value);
  (void)volok::RegistryDwordValue(text);

  // Every 32-bit number survives its decimal and hexadecimal texts.
  if (size >= 4) {
    std::uint32_t number;
    std::memcpy(&number, data, sizeof number);
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(number));
    Expect(volok::RegistryDwordValue(std::to_string(number)) == number, "decimal DWORD");
    Expect(volok::RegistryDwordValue(hex) == number, "hexadecimal DWORD");
    if (number <= 0x80000000u)
      Expect(volok::RegistryDwordValue("-" + std::to_string(number)) == 0u - number, "negative DWORD");
  }
  return 0;
}
