// Any file opened as an archive and extracted: errors are fine; crashes,
// hangs, huge allocations and anything written outside the target folder
// are not. Every change goes through a guard that resolves the path the
// system call would really touch (cut at a NUL, links and ".." followed)
// and refuses (and reports) one outside the target, so an escaping name is
// caught wherever it would land and never touches the machine; the folders
// around the target are checked for strays as well.
#include <filesystem>
#include <fstream>
#include <set>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "common/error.h"
#include "fuzz_support.h"
#include "platform/file_system.h"

namespace fs = std::filesystem;
using volok::fuzz::Expect;
using volok::platform::FileAccess;
using volok::platform::FileSystem;
using volok::platform::FileTime;
using volok::platform::Status;

namespace {

// The native path the system call would touch for a Windows path the
// reader hands over: cut at a NUL as the C string is, drive Z: mapped to
// "/" and "\\" to "/" as the POSIX layer does, then "." and ".." and links
// resolved as the kernel would resolve them.
fs::path Touched(const std::string& windows_path) {
  std::string cut = windows_path.substr(0, windows_path.find('\0'));
  if (cut.rfind("Z:", 0) == 0 || cut.rfind("z:", 0) == 0) cut.erase(0, 2);
  for (char& c : cut)
    if (c == '\\') c = '/';
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::path(cut), error);
  return error ? fs::path(cut).lexically_normal() : resolved;
}

// True when `path` lies strictly below `folder` (both resolved).
bool Below(const fs::path& path, const fs::path& folder) {
  fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

class GuardedFileSystem final : public volok::platform::FileSystemWrapper {
 public:
  GuardedFileSystem(FileSystem& target, const fs::path& folder)
      : FileSystemWrapper(target), FFolder(fs::weakly_canonical(folder)) {}

  Status OpenFile(const std::string& path, FileAccess access, volok::platform::FileShare share,
                  std::unique_ptr<volok::platform::File>& file) override {
    if (access != FileAccess::ReadExisting) Check(path);
    return FTarget.OpenFile(path, access, share, file);
  }
  // Making a folder that exists fails without a change, so the folders
  // above the target (which exist) may be asked for.
  Status MakeFolder(const std::string& path) override {
    fs::path touched = Touched(path);
    if (touched != FFolder && !Below(FFolder, touched)) Check(path);
    return FTarget.MakeFolder(path);
  }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    Check(target);
    return FTarget.CopyFileOver(source, target);
  }
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    Check(source);
    Check(target);
    return FTarget.MoveFileReplace(source, target);
  }
  Status RemoveFile(const std::string& path) override {
    Check(path);
    return FTarget.RemoveFile(path);
  }
  Status RemoveEmptyFolder(const std::string& path) override {
    Check(path);
    return FTarget.RemoveEmptyFolder(path);
  }
  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    Check(path);
    return FTarget.SetAttributes(path, attributes);
  }
  Status SetExecuteBits(const std::string& path, std::uint32_t posix_mode) override {
    Check(path);
    return FTarget.SetExecuteBits(path, posix_mode);
  }
  Status SetLastWriteTime(const std::string& path, FileTime time) override {
    Check(path);
    return FTarget.SetLastWriteTime(path, time);
  }
  Status ShellDelete(const std::string& path, bool permanent) override {
    Check(path);
    return FTarget.ShellDelete(path, permanent);
  }
  Status MakeSymbolicLink(const std::string& link, const std::string& target) override {
    Check(link);
    return FTarget.MakeSymbolicLink(link, target);
  }

 private:
  // Stops the run before a change outside the target (or to the target
  // folder itself) reaches the disk. The reader must never hand over a path
  // with a NUL, a second colon (an alternate data stream on Windows) or a
  // "." or ".." part: Windows would resolve those differently.
  void Check(const std::string& path) {
    std::string rest = path.size() > 2 ? path.substr(2) : path;
    bool plain = path.find('\0') == std::string::npos && rest.find(':') == std::string::npos &&
                 (rest + "\\").find("\\..\\") == std::string::npos &&
                 (rest + "\\").find("\\.\\") == std::string::npos;
    bool inside = plain && Below(Touched(path), FFolder);
    if (!inside) std::fprintf(stderr, "write outside the target folder: %s\n", path.c_str());
    Expect(inside, "the archive changes nothing outside the target folder");
  }

  fs::path FFolder;
};

// True when every symbolic link below `folder` reaches a place inside it
// (or nothing): a link the reader left must not lead a later write out.
bool LinksStayInside(const fs::path& folder) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink()) continue;
    // Resolved from its text: a dangling link would otherwise read as itself.
    fs::path reached = fs::weakly_canonical(it->path().parent_path() / fs::read_symlink(it->path(), error), error);
    if (!error && !Below(reached, fs::weakly_canonical(folder))) return false;
  }
  return true;
}

// The entries of `folder` other than `expected`.
std::set<std::string> Strays(const fs::path& folder, const std::set<std::string>& expected) {
  std::set<std::string> strays;
  for (const auto& entry : fs::directory_iterator(folder))
    if (!expected.count(entry.path().filename().string())) strays.insert(entry.path().filename().string());
  return strays;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path box = volok::fuzz::PrivateTempPath("volok-zip-fuzz");
  const fs::path out = box / "outer" / "out";
  fs::remove_all(box);
  fs::create_directories(out);
  std::ofstream(box / "input.zip", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  {
    GuardedFileSystem guard(FileSystem::BuiltIn(), out);
    volok::platform::ScopedDefault<FileSystem> scope(guard);
    try {
      volok::ZipReader reader;
      reader.Open(volok::fuzz::WindowsPath(box / "input.zip"));
      reader.SetPassword(std::string(volok::ArchivePassword));
      reader.SetBaseFolder(volok::fuzz::WindowsPath(out));
      std::size_t extracted = reader.ExtractFiles("*.*");
      Expect(extracted <= reader.Count(), "no more items extracted than the archive holds");
      for (std::size_t i = 0; i < reader.Count(); ++i) (void)reader.Item(i).FName.size();
    } catch (const volok::Error&) {
    }
  }
  Expect(Strays(box, {"outer", "input.zip"}).empty() && Strays(box / "outer", {"out"}).empty(),
         "nothing lands beside the target folder");
  Expect(LinksStayInside(out), "no link leads out of the target folder");
  fs::remove_all(box);
  return 0;
}
