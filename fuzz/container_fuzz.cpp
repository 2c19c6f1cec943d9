// The description container must reject any text with its one error, never
// crash or hang.
#include <cstdint>
#include <string>

#include "common/crypt.h"
#include "common/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    std::string plain = volok::DecryptText(text);
    // What unwraps must wrap back to a container of the promised size.
    if (!plain.empty() && volok::EncryptText(plain).size() % 8 != 0) __builtin_trap();
  } catch (const volok::Error&) {
  }
  try {
    (void)volok::DecryptFromHex(text, "123456789012");
  } catch (const volok::Error&) {
  }
  return 0;
}
