#include "engine/package_files.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"

namespace volok {

namespace {

using platform::File;
using platform::FileSystem;

// Nothing a package carries needs a manifest this large; a record that
// names more is not read into memory.
constexpr std::uint64_t kMaxManifestLength = 64u << 20;

[[noreturn]] void FailChecksum() { throw volok::Error(kChecksumMessage); }

std::unique_ptr<File> OpenShared(const std::string& path) {
  std::unique_ptr<File> file;
  if (!FileSystem::Default().OpenFile(path, platform::FileAccess::ReadExisting, platform::FileShare::Read, file).ok())
    return nullptr;
  return file;
}

bool ReadExactly(File& file, std::uint64_t offset, std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t done = 0;
    if (!file.ReadAt(offset + at, &bytes[at], bytes.size() - at, done).ok() || done == 0) return false;
    at += done;
  }
  return true;
}

}  // namespace

TPackageFiles::~TPackageFiles() {
  FChecked.clear();
  for (const std::string& copy : FCopies) (void)FileSystem::Default().RemoveFile(copy);
  if (!FCopyFolder.empty()) (void)FileSystem::Default().RemoveEmptyFolder(ExcludeTrailingDelimiter(FCopyFolder));
}

void TPackageFiles::LoadManifest(const std::string& engine, const TManifestRecord& record) {
  if (record.Empty()) throw volok::Error(kNoManifestMessage);
  // The record comes from the mapped image; the file read here may have
  // been replaced since the start, which the hash finds out.
  std::unique_ptr<File> file = OpenShared(engine);
  std::uint64_t size = 0;
  if (!file || !file->Size(size).ok() || record.Length > kMaxManifestLength || record.Offset > size ||
      record.Length > size - record.Offset)
    FailChecksum();
  std::string bytes(static_cast<std::size_t>(record.Length), '\0');
  std::string failure;
  if (!ReadExactly(*file, record.Offset, bytes) || BytesDigest(bytes).Sha256 != record.Sha256 ||
      !ReadManifest(bytes, size, FManifest, failure))
    FailChecksum();
}

TPackageFiles::TChecked TPackageFiles::Check(const TManifestEntry& entry, const std::string& path) {
  // Bytes attached to the engine itself are for a single-file package,
  // which this engine does not read yet.
  if (entry.Attached()) FailChecksum();
  std::unique_ptr<File> file = OpenShared(path);
  if (!file) FailChecksum();
  TChecked checked;
  if (file->OthersMayChange()) {
    checked.Handle = CopyPrivately(*file, checked.Digest);
  } else {
    if (!StreamDigest(*file, checked.Digest)) FailChecksum();
    checked.Handle = std::move(file);
  }
  if (checked.Digest.Size != entry.Size || checked.Digest.Sha256 != entry.Sha256) FailChecksum();
  return checked;
}

const TFileDigest& TPackageFiles::Verify(const std::string& name, const std::string& path) {
  const std::string key = ManifestKey(name);
  if (auto found = FChecked.find(key); found != FChecked.end()) return found->second.Digest;
  const TManifestEntry* entry = FManifest.Find(name);
  if (!entry) FailChecksum();
  return FChecked.emplace(key, Check(*entry, path)).first->second.Digest;
}

void TPackageFiles::VerifyAll(const std::string& folder, const std::string& except) {
  std::vector<const TManifestEntry*> pending;
  for (const TManifestEntry& entry : FManifest.Entries)
    if (ManifestKey(entry.Name) != ManifestKey(except) && !FChecked.count(ManifestKey(entry.Name)))
      pending.push_back(&entry);
  // SHA-256 costs about twice the CRC and the read together: files are
  // hashed side by side, one per core, to keep the start-up near what the
  // CRC pass alone took.
  std::vector<TChecked> checked(pending.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t i = next++; i < pending.size() && !failed; i = next++) {
      try {
        checked[i] = Check(*pending[i], folder + pending[i]->Name);
      } catch (...) {
        failed = true;
      }
    }
  };
  const std::size_t threads = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), pending.size());
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  for (std::size_t i = 0; i < pending.size(); ++i)
    if (checked[i].Handle) FChecked.emplace(ManifestKey(pending[i]->Name), std::move(checked[i]));
  if (failed) FailChecksum();
}

std::unique_ptr<File> TPackageFiles::CopyPrivately(File& source, TFileDigest& digest) {
  FileSystem& fs = FileSystem::Default();
  std::string copy;
  {
    std::lock_guard<std::mutex> guard(FCopyLock);
    if (FCopyFolder.empty()) FCopyFolder = MakeFreshFolder(GetTempFolder(), "volok-package-");
    if (FCopyFolder.empty()) FailChecksum();
    copy = FCopyFolder + std::to_string(FCopies.size()) + ".bin";
    FCopies.push_back(copy);
  }
  std::unique_ptr<File> file;
  if (!fs.OpenFile(copy, platform::FileAccess::CreateNew, platform::FileShare::Read, file).ok()) FailChecksum();
  if (!StreamDigest(source, digest, file.get()) || file->OthersMayChange()) FailChecksum();
  return file;
}

File* TPackageFiles::Find(const std::string& name) const {
  auto found = FChecked.find(ManifestKey(name));
  return found == FChecked.end() ? nullptr : found->second.Handle.get();
}

const TFileDigest* TPackageFiles::Digest(const std::string& name) const {
  auto found = FChecked.find(ManifestKey(name));
  return found == FChecked.end() ? nullptr : &found->second.Digest;
}

std::string TPackageFiles::ReadAll(const std::string& name) {
  File* file = Find(name);
  const TFileDigest* digest = Digest(name);
  if (!file || !digest) FailChecksum();
  std::string bytes(static_cast<std::size_t>(digest->Size), '\0');
  if (!ReadExactly(*file, 0, bytes)) FailChecksum();
  // A short read would mean the file changed after its check.
  std::size_t done = 0;
  char extra = 0;
  if (!file->ReadAt(digest->Size, &extra, 1, done).ok() || done != 0) FailChecksum();
  // Small files are hashed once more on the very bytes handed out.
  if (BytesDigest(bytes).Sha256 != digest->Sha256) FailChecksum();
  return bytes;
}

}  // namespace volok
