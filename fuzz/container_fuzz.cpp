// The description container must reject any text with its one error, never
// crash or hang, and what it unwraps must wrap back to the same text.
#include "common/crypt.h"
#include "common/error.h"
#include "fuzz_support.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  try {
    std::string plain = volok::DecryptText(text);
    // DecryptText gives valid UTF-8, so the round trip is exact.
    std::string wrapped = volok::EncryptText(plain);
    Expect(plain.empty() || wrapped.size() % 8 == 0, "a container is whole groups of 8 digits");
    Expect(volok::DecryptText(wrapped) == plain, "wrap then unwrap gives the text back");
  } catch (const volok::Error&) {
  }
  try {
    (void)volok::DecryptFromHex(text, "123456789012");
  } catch (const volok::Error&) {
  }
  // Any bytes, not only text, survive the byte-level round trip.
  if (size > 0) {
    std::string key = text.substr(0, 1 + size % 56);
    Expect(volok::DecryptFromHex(volok::EncryptToHex(text, key), key) == text, "byte round trip");
  }
  if (size >= 2) (void)volok::HexPairValue(text.substr(0, 2));
  return 0;
}
