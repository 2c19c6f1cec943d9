// One ZIP operation as the engine performs it, for scripts/bench to time and
// to take the peak memory of, beside Info-ZIP and 7-Zip.
//
//   bench_zip pack <folder> <archive>     ZipWriter as the builder's ZipFolder drives it
//   bench_zip unpack <archive> <folder>   ZipReader as the UnZip command drives it
//
// Paths are native; they are handed to the engine as Windows paths.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "archive/zip_writer.h"
#include "bench_paths.h"

namespace {

int Pack(const std::string& folder, const std::string& archive) {
  volok::ZipWriter writer;
  writer.SetBaseFolder(folder);
  writer.SetPassword(std::string(volok::ArchivePassword));
  writer.SetFileName(archive);
  writer.AddFiles("*.*", volok::ZipWriter::AnyFile);
  writer.Save();
  return 0;
}

int Unpack(const std::string& archive, const std::string& folder) {
  volok::ZipReader reader;
  reader.Open(archive);
  reader.SetPassword(std::string(volok::ArchivePassword));
  reader.SetBaseFolder(folder);
  std::size_t extracted = reader.ExtractFiles("*.*");
  if (extracted == reader.Count()) return 0;
  std::fprintf(stderr, "extracted %zu of %zu items\n", extracted, reader.Count());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_zip pack <folder> <archive> | unpack <archive> <folder>\n");
    return 2;
  }
  std::string mode = argv[1];
  try {
    if (mode == "pack") return Pack(bench::EnginePath(argv[2]), bench::EnginePath(argv[3]));
    if (mode == "unpack") {
      std::filesystem::create_directories(argv[3]);
      return Unpack(bench::EnginePath(argv[2]), bench::EnginePath(argv[3]));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
