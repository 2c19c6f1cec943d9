// A shortcut's target text: "program" arguments, split into program,
// arguments and working folder.
#include <algorithm>

#include "engine/system_commands.h"
#include "fuzz_support.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  volok::TLinkTarget target = volok::SplitLinkTarget(text);
  Expect(target.Program.size() <= text.size(), "the program is part of the text");
  Expect(target.Program.rfind(target.WorkingFolder, 0) == 0, "the working folder is the program's folder");
  if (std::count(text.begin(), text.end(), '"') >= 2)
    Expect(target.Program.find('"') == std::string::npos, "a quoted program loses its quotes");
  return 0;
}
