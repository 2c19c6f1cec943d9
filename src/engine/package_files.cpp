#include "engine/package_files.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/error.h"
#include "common/file_utils.h"
#include "common/package_layout.h"
#include "common/text.h"
#include "platform/file_slice.h"

namespace volok {

namespace {

using platform::File;
using platform::FileSystem;

[[noreturn]] void FailChecksum() { throw volok::Error(kChecksumMessage); }

std::unique_ptr<File> OpenShared(const std::string& path) {
  std::unique_ptr<File> file;
  if (!FileSystem::Default().OpenFile(path, platform::FileAccess::ReadExisting, platform::FileShare::Read, file).ok())
    return nullptr;
  return file;
}

}  // namespace

TPackageFiles::~TPackageFiles() {
  FChecked.clear();  // before the engine's handle, which views borrow
  FEngine.reset();
  for (const std::string& copy : FCopies) (void)FileSystem::Default().RemoveFile(copy);
  if (!FCopyFolder.empty()) (void)FileSystem::Default().RemoveEmptyFolder(ExcludeTrailingDelimiter(FCopyFolder));
}

void TPackageFiles::LoadManifest(const std::string& engine, const TManifestRecord& record) {
  if (record.Empty()) throw volok::Error(kNoManifestMessage);
  // The record comes from the mapped image; the file read here may have
  // been replaced since the start, which the hash finds out. Its handle
  // stays open: the files attached to it are read through it.
  FEngine = OpenShared(engine);
  std::string failure;
  if (!FEngine || !ReadPackageLayout(*FEngine, record, FManifest, failure)) FailChecksum();
}

bool TPackageFiles::SingleFile() const {
  for (const TManifestEntry& entry : FManifest.Entries)
    if (entry.Attached()) return true;
  return false;
}

TPackageFiles::TChecked TPackageFiles::CheckImageHead(const TManifestEntry& entry) {
  // Read whole: its hash leaves out the fields that signing rewrites.
  if (entry.Size > kMaxImageHeadLength) FailChecksum();
  std::string head(static_cast<std::size_t>(entry.Size), '\0');
  if (!ReadExactly(*FEngine, entry.Offset, head) || ImageHeadDigest(head) != entry.Sha256) FailChecksum();
  TChecked checked;
  checked.Handle = std::make_unique<platform::FileSlice>(*FEngine, entry.Offset, entry.Size);
  checked.Digest.Size = entry.Size;
  checked.Digest.Sha256 = entry.Sha256;
  return checked;
}

TPackageFiles::TChecked TPackageFiles::Check(const TManifestEntry& entry, const std::string& path) {
  if (entry.Attached() && entry.Name == kImageHeadEntry) return CheckImageHead(entry);
  // An attached file is read where it lies in the engine's own file,
  // through the handle the manifest was read by; `path` is not looked at.
  std::unique_ptr<File> file =
      entry.Attached() ? std::make_unique<platform::FileSlice>(*FEngine, entry.Offset, entry.Size) : OpenShared(path);
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
