#include "platform/console.h"

#include <cstdio>

namespace volok::platform {

void AttachParentConsole() {}

void WriteStdOutLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace volok::platform
