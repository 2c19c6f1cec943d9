// Packs and unpacks a generated corpus with ZipWriter/ZipReader beside
// Info-ZIP (zip -r -P / unzip -P) and 7-Zip (ZipCrypto, one thread) in the
// same run, and reports time, throughput, archive size and peak memory of
// each. Figures, not a pass/fail test.
//
//   bench_zip [corpus MiB = 300] [work folder, kept; default: a temporary one, removed]
#ifdef _WIN32
#include <cstdio>
int main() {
  std::puts("bench_zip runs natively only: its peers and process accounting are POSIX tools.");
  return 0;
}
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "archive/zip_writer.h"

namespace fs = std::filesystem;

namespace {

struct Measure {
  double FSeconds = 0;
  long FPeakKiB = 0;
  bool FOk = false;
};

std::string WindowsPath(const fs::path& native) {
  std::string path = "Z:";
  for (char c : native.string()) path += c == '/' ? '\\' : c;
  return path;
}

// Runs `work` in a child process so that its peak resident memory is its
// own, not the benchmark's.
Measure InChild(const std::function<int()>& work) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    _exit(rc);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measure measure;
  measure.FSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.FPeakKiB = usage.ru_maxrss;
  measure.FOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return measure;
}

Measure Shell(const std::string& command) {
  return InChild([&] { return execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>&1").c_str(), nullptr); });
}

// Text-like data: words from a small vocabulary, compressible about 3:1.
void WriteText(const fs::path& path, std::size_t size, std::mt19937& random) {
  static const char* words[] = {"installer", "package", "folder", "value", "registry", "shortcut", "archive",
                                "version", "program", "setup", "file", "data", "Windows", "options", "\n"};
  std::ofstream out(path, std::ios::binary);
  std::string chunk;
  for (std::size_t written = 0; written < size; written += chunk.size()) {
    chunk.clear();
    while (chunk.size() < 64 * 1024) {
      chunk += words[random() % 15];
      chunk += random() % 7 ? ' ' : static_cast<char>('0' + random() % 10);
    }
    if (chunk.size() > size - written) chunk.resize(size - written);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
}

void WriteRandom(const fs::path& path, std::size_t size, std::mt19937& random) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint32_t> block(16 * 1024);
  for (std::size_t written = 0; written < size;) {
    for (auto& word : block) word = random();
    std::size_t part = std::min(block.size() * 4, size - written);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(part));
    written += part;
  }
}

// About `total` bytes: many small and medium files in nested folders, a
// third incompressible, one large file, a few empty ones and empty folders.
std::uint64_t MakeCorpus(const fs::path& root, std::uint64_t total) {
  std::mt19937 random(2024);
  fs::remove_all(root);
  std::uint64_t made = 0;
  fs::create_directories(root / "big");
  WriteText(root / "big" / "large.log", total / 3, random);
  made += total / 3;
  for (int i = 0; made < total; ++i) {
    fs::path folder = root / ("dir" + std::to_string(i % 12)) / ("sub" + std::to_string(i % 5));
    fs::create_directories(folder);
    std::size_t size = i % 10 == 0 ? 4u << 20 : 1024 + random() % (256 * 1024);
    fs::path file = folder / ("file" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt"));
    if (i % 3 == 0) {
      WriteRandom(file, size, random);
    } else {
      WriteText(file, size, random);
    }
    made += size;
  }
  for (int i = 0; i < 5; ++i) std::ofstream(root / ("empty" + std::to_string(i) + ".dat"));
  fs::create_directories(root / "empty folder");
  return made;
}

std::uint64_t TreeBytes(const fs::path& root) {
  std::uint64_t total = 0;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(root, ignored))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

void Report(const char* what, const Measure& m, std::uint64_t bytes, std::uint64_t archive, const Measure& ours) {
  double mib = static_cast<double>(bytes) / (1 << 20);
  std::string ratio = archive ? std::to_string(static_cast<double>(archive) / bytes).substr(0, 5) : "-";
  std::printf("%-24s %7.2f s %7.1f MiB/s %7.1f MiB %7s %7.2fx %7.2fx%s\n", what, m.FSeconds, mib / m.FSeconds,
              m.FPeakKiB / 1024.0, ratio.c_str(), m.FSeconds / ours.FSeconds,
              static_cast<double>(m.FPeakKiB) / ours.FPeakKiB, m.FOk ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300;
  fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "volok-bench-zip";
  fs::create_directories(work);
  work = fs::canonical(work);
  const std::string password(volok::ArchivePassword);
  fs::path corpus = work / "corpus";
  std::uint64_t bytes = MakeCorpus(corpus, mib << 20);
  std::printf("corpus: %.1f MiB in %s\n", static_cast<double>(bytes) / (1 << 20), corpus.c_str());
  std::printf("%-24s %9s %13s %11s %7s %8s %8s\n", "", "time", "throughput", "peak RSS", "size", "time/us",
              "mem/us");

  for (const char* name : {"volok.zip", "infozip.zip", "7z.zip"}) fs::remove(work / name);
  Measure pack = InChild([&] {
    volok::ZipWriter writer;
    writer.SetBaseFolder(WindowsPath(corpus));
    writer.SetPassword(password);
    writer.SetFileName(WindowsPath(work / "volok.zip"));
    writer.AddFiles("*.*", volok::ZipWriter::AnyFile);
    writer.Save();
    return 0;
  });
  Measure zip = Shell("cd '" + corpus.string() + "' && zip -q -r -P " + password + " ../infozip.zip .");
  Measure sevenzip = Shell("cd '" + corpus.string() + "' && 7z a -tzip -mem=ZipCrypto -mmt=1 -p" + password +
                           " ../7z.zip .");
  Report("volok ZipWriter", pack, bytes, fs::file_size(work / "volok.zip"), pack);
  Report("zip -r -P", zip, bytes, fs::file_size(work / "infozip.zip"), pack);
  Report("7z a (ZipCrypto, 1 thr)", sevenzip, bytes, fs::file_size(work / "7z.zip"), pack);

  for (const char* name : {"out-volok", "out-unzip", "out-7z"}) fs::remove_all(work / name);
  fs::create_directories(work / "out-volok");
  Measure unpack = InChild([&] {
    volok::ZipReader reader;
    reader.Open(WindowsPath(work / "volok.zip"));
    reader.SetPassword(password);
    reader.SetBaseFolder(WindowsPath(work / "out-volok"));
    return reader.ExtractFiles("*.*") == reader.Count() ? 0 : 1;
  });
  Measure unzip = Shell("unzip -qq -P " + password + " '" + (work / "volok.zip").string() + "' -d '" +
                        (work / "out-unzip").string() + "'");
  Measure unzip7 = Shell("7z x -y -p" + password + " -o'" + (work / "out-7z").string() + "' '" +
                         (work / "volok.zip").string() + "'");
  Report("volok ZipReader", unpack, bytes, 0, unpack);
  Report("unzip -P", unzip, bytes, 0, unpack);
  Report("7z x", unzip7, bytes, 0, unpack);
  for (const char* name : {"out-volok", "out-unzip", "out-7z"}) {
    std::uint64_t got = TreeBytes(work / name);
    if (got != bytes) std::printf("%s holds %llu bytes, expected %llu\n", name, (unsigned long long)got,
                                  (unsigned long long)bytes);
  }
  if (argc > 2) {
    std::printf("work folder kept: %s\n", work.c_str());
  } else {
    fs::remove_all(work);
  }
  return 0;
}
#endif
