// File copies as the engine and the builder make them, for scripts/bench to
// time beside `cp`.
//
//   bench_copy engine <source> <target>    the Copy commands' platform copy
//   bench_copy builder <source> <target>   the builder's CopyFile (size and CRC-32 too)
//
// A source folder is copied file by file (folders made as `cp -r` makes
// them), so many small files show the per-file cost.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "bench_paths.h"
#include "builder/package_builder.h"
#include "platform/file_system.h"

namespace {

namespace fs = std::filesystem;

bool CopyOne(const std::string& mode, volok::TPackageBuilder& builder, const fs::path& source,
             const fs::path& target) {
  if (mode == "engine")
    return volok::platform::FileSystem::Default()
        .CopyFileOver(bench::EnginePath(source), bench::EnginePath(target))
        .ok();
  std::uint32_t size = 0, crc = 0;
  builder.CopyFile(bench::EnginePath(source), bench::EnginePath(target), size, crc);
  return true;
}

bool CopyTree(const std::string& mode, const fs::path& source, const fs::path& target) {
  volok::TPackageBuilder builder;
  if (!fs::is_directory(source)) return CopyOne(mode, builder, source, target);
  fs::create_directories(target);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source)) {
    fs::path to = target / entry.path().lexically_relative(source);
    if (entry.is_directory()) {
      fs::create_directory(to);
    } else if (!CopyOne(mode, builder, entry.path(), to)) {
      std::fprintf(stderr, "cannot copy %s\n", entry.path().string().c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc == 4 ? argv[1] : "";
  if (mode != "engine" && mode != "builder") {
    std::fprintf(stderr, "usage: bench_copy engine|builder <source> <target>\n");
    return 2;
  }
  try {
    return CopyTree(mode, argv[2], argv[3]) ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
