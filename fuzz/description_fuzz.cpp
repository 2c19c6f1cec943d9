// Any XML text either reads as a description or fails with a message.
#include <cstdint>
#include <string>

#include "common/error.h"
#include "model/install.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  volok::TInstall install;
  try {
    install.ReadXml(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const volok::Error&) {
  }
  return 0;
}
