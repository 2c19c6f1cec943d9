#include "platform/security.h"

#include <cstdio>

namespace volok::platform {

Status Security::RunElevated(const std::string&, const std::string&, std::uint32_t&) {
  return Status::Failure("Запуск с правами администратора в этой системе недоступен.");
}

std::string FormatSid(std::uint8_t revision, const std::uint8_t authority[6],
                      const std::vector<std::uint32_t>& sub_authorities) {
  char buffer[32];
  // Appended piece by piece: GCC's -Wrestrict misreads "S-" + text + "-".
  std::string text = "S-";
  text += std::to_string(revision);
  text += '-';
  if (authority[0] != 0 || authority[1] != 0) {
    std::snprintf(buffer, sizeof buffer, "0x%02X%02X%02X%02X%02X%02X", authority[0], authority[1], authority[2],
                  authority[3], authority[4], authority[5]);
    text += buffer;
  } else {
    std::uint32_t value = (std::uint32_t{authority[2]} << 24) | (std::uint32_t{authority[3]} << 16) |
                          (std::uint32_t{authority[4]} << 8) | authority[5];
    text += std::to_string(value);
  }
  for (std::uint32_t sub : sub_authorities) {
    text += '-';
    text += std::to_string(sub);
  }
  return text;
}

}  // namespace volok::platform
