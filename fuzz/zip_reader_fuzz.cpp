// Any file opened as an archive and extracted: errors are fine, crashes,
// hangs, huge allocations and files outside the target folder are not.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "common/error.h"

namespace fs = std::filesystem;

namespace {

std::string WindowsPath(const fs::path& native) {
  std::string result = "Z:";
  for (char c : native.string()) result += c == '/' ? '\\' : c;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path box = fs::temp_directory_path() / ("volok-zip-fuzz-" + std::to_string(::getpid()));
  fs::remove_all(box);
  fs::create_directories(box / "out");
  {
    std::ofstream archive(box / "input.zip", std::ios::binary);
    archive.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    volok::ZipReader reader;
    reader.Open(WindowsPath(box / "input.zip"));
    reader.SetPassword(std::string(volok::ArchivePassword));
    reader.SetBaseFolder(WindowsPath(box / "out"));
    (void)reader.ExtractFiles("*.*");
  } catch (const volok::Error&) {
  }
  // Nothing may land beside the target folder.
  for (const auto& entry : fs::directory_iterator(box))
    if (entry.path().filename() != "out" && entry.path().filename() != "input.zip") __builtin_trap();
  fs::remove_all(box);
  return 0;
}
