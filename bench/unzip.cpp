// ZipReader extracting one archive with a chosen number of threads, to see
// what each added core brings (scripts/bench times the default beside the
// peers through bench_zip unpack). Reports the seconds of the extraction.
//
//   bench_unzip <archive> <empty folder> [threads = one per core]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "bench_paths.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_unzip <archive> <empty folder> [threads]\n");
    return 2;
  }
  try {
    auto start = bench::Clock::now();
    volok::ZipReader reader;
    if (argc > 3) reader.SetThreadCount(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    reader.Open(bench::EnginePath(argv[1]));
    reader.SetPassword(std::string(volok::ArchivePassword));
    reader.SetBaseFolder(bench::EnginePath(argv[2]));
    std::size_t extracted = reader.ExtractFiles("*.*");
    bench::ReportSeconds(bench::SecondsSince(start));
    if (extracted == reader.Count()) return 0;
    std::fprintf(stderr, "extracted %zu of %zu items\n", extracted, reader.Count());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
