// File-system service. Paths are Windows paths (backslash, drive letters) in
// UTF-8; the POSIX implementation maps them as Wine does (drive Z: is "/").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// How an open file is created or found.
enum class FileAccess {
  ReadExisting,   // open an existing file for reading
  CreateAlways,   // create, or truncate an existing file, for writing
  AppendOrCreate, // open for writing at the end, creating a missing file
  // As AppendOrCreate and ReadExisting, but a link or reparse point at
  // `path`, or anything but a regular file, is refused, never followed (a
  // log in a folder that others could once write).
  AppendNoLink,
  ReadNoLink,
  // Create a file that must not exist yet (a link of that name counts as
  // existing and is not followed), open for reading and writing, that no
  // other account may open (POSIX: mode 0600; Windows: the protection the
  // folder gives).
  CreateNew,
};

// What other openers may do while the file is open (Windows share modes;
// POSIX has no mandatory sharing and ignores it).
enum class FileShare {
  None,
  Read,
  ReadWrite,
};

// An open file. Not thread-safe; one user at a time. Closed on destruction.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes at the current position; `done` is the number
  // read, 0 at the end of the file.
  virtual Status Read(void* buffer, std::size_t size, std::size_t& done) = 0;
  // Writes all `size` bytes or fails.
  virtual Status Write(const void* buffer, std::size_t size) = 0;
  virtual Status Seek(std::uint64_t offset) = 0;
  // Reads up to `size` bytes at `offset`, as Read does, without using the
  // current position, which is undefined afterwards. Several threads may
  // call ReadAt on one file at once (and nothing else meanwhile).
  // Implementations that do not override it fall back to Seek and Read
  // under one process-wide lock.
  virtual Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    done = 0;
    Status sought = Seek(offset);
    return sought.ok() ? Read(buffer, size, done) : sought;
  }
  virtual Status Size(std::uint64_t& size) = 0;
  // Ends the file at the current position, dropping what lies beyond it.
  virtual Status Truncate() = 0;
  // Returns once everything written so far is on the disk (fsync;
  // FlushFileBuffers), so a power loss after it cannot lose or tear it.
  virtual Status Flush() = 0;
  // Whether another account could change the bytes under this handle while
  // it is open. POSIX: the file is not owned by the running account or
  // root, or its group or others may write it, or it is not a regular file.
  // Windows: false; a handle opened with FileShare::Read or None keeps every
  // writer out while it lives, so ask only of such handles.
  virtual bool OthersMayChange() { return false; }
};

// Forwards every call to a file it owns; fault injectors override the calls
// they need.
class FileWrapper : public File {
 public:
  explicit FileWrapper(std::unique_ptr<File> target) : FTarget(std::move(target)) {}
  Status Read(void* buffer, std::size_t size, std::size_t& done) override { return FTarget->Read(buffer, size, done); }
  Status Write(const void* buffer, std::size_t size) override { return FTarget->Write(buffer, size); }
  Status Seek(std::uint64_t offset) override { return FTarget->Seek(offset); }
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override {
    return FTarget->ReadAt(offset, buffer, size, done);
  }
  Status Size(std::uint64_t& size) override { return FTarget->Size(size); }
  Status Truncate() override { return FTarget->Truncate(); }
  Status Flush() override { return FTarget->Flush(); }
  bool OthersMayChange() override { return FTarget->OthersMayChange(); }

 private:
  std::unique_ptr<File> FTarget;
};

// Forwards every call to a file that someone else owns and keeps open for
// longer than this object.
class BorrowedFile final : public File {
 public:
  explicit BorrowedFile(File& target) : FTarget(target) {}
  Status Read(void* buffer, std::size_t size, std::size_t& done) override { return FTarget.Read(buffer, size, done); }
  Status Write(const void* buffer, std::size_t size) override { return FTarget.Write(buffer, size); }
  Status Seek(std::uint64_t offset) override { return FTarget.Seek(offset); }
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override {
    return FTarget.ReadAt(offset, buffer, size, done);
  }
  Status Size(std::uint64_t& size) override { return FTarget.Size(size); }
  Status Truncate() override { return FTarget.Truncate(); }
  Status Flush() override { return FTarget.Flush(); }
  bool OthersMayChange() override { return FTarget.OthersMayChange(); }

 private:
  File& FTarget;
};

// Windows file attribute bits (FILE_ATTRIBUTE_*). The POSIX layer derives
// ReadOnly from the owner's write bit, Directory from the file type, Hidden
// from a leading dot, and keeps Hidden and System in the extended attribute
// "user.DOSATTRIB" ("0x<hex>") where the file system allows it, as Wine and
// Samba do, so both see the same bits. Regular files report Archive there.
namespace FileAttribute {
constexpr std::uint32_t ReadOnly = 0x01;
constexpr std::uint32_t Hidden = 0x02;
constexpr std::uint32_t System = 0x04;
constexpr std::uint32_t Directory = 0x10;
constexpr std::uint32_t Archive = 0x20;
constexpr std::uint32_t Normal = 0x80;
// Windows: a link, junction or other reparse point (the entry itself).
constexpr std::uint32_t ReparsePoint = 0x400;
}  // namespace FileAttribute

// Times are FILETIME counts: 100 ns intervals since 1601-01-01 00:00 UTC.
using FileTime = std::uint64_t;

// What a path names, links followed.
enum class FileKind {
  Missing,  // nothing, or a link to nothing
  Regular,
  Folder,
  Special,  // a FIFO, socket or device: reading one may block for ever
};

// One entry of a folder listing.
struct FileEntry {
  std::string Name;          // the entry's own name, no folder part
  bool IsFolder = false;     // a link to a folder counts as a folder
  // Neither a regular file nor a folder, links followed: a FIFO, socket,
  // device, or a link to one of these or to nothing.
  bool IsSpecial = false;
  std::uint32_t Attributes = 0;
  std::uint64_t Size = 0;    // 0 for folders
  FileTime LastWriteTime = 0;
  // POSIX: the type and permission bits of st_mode (links followed; no
  // set-id or sticky bits). Windows: 0, it has no such mode.
  std::uint32_t PosixMode = 0;
  // POSIX: the entry itself is a symbolic link (the fields above describe
  // what it reaches). Windows: always false, links are followed; a reparse
  // point shows as FileAttribute::ReparsePoint in Attributes.
  bool IsLink = false;
};

// All calls take Windows paths; relative paths resolve against the process's
// current folder. Method names avoid the Win32 macro names (CopyFile, ...).
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  static FileSystem& Default() { return DefaultSlot<FileSystem>::Get(); }
  static FileSystem& BuiltIn();

  virtual Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                          std::unique_ptr<File>& file) = 0;

  // The absolute form of `path` as GetFullPathNameW gives it: prefixed with
  // the current folder when relative, "." and ".." resolved, "/" turned into
  // "\", a trailing "\" kept. Never touches the disk.
  virtual Status FullPath(const std::string& path, std::string& full) = 0;
  // True for an existing file (not a folder).
  virtual bool FileExists(const std::string& path) = 0;
  // Whether an account other than the running one and the system's own
  // (root; Administrators, SYSTEM) may change the entry `path` itself, or
  // it is a link: POSIX lstat's owner, and write for its group or others.
  // Windows: a reparse point only (its owner and access list are not read;
  // Wine keeps none).
  virtual bool WritableByOthers(const std::string& path) = 0;
  // What `path` names, without opening it.
  virtual FileKind KindOf(const std::string& path) = 0;
  // True for an existing folder or a link to one.
  virtual bool FolderExists(const std::string& path) = 0;
  // Creates one folder; its parent must exist; fails when it exists.
  virtual Status MakeFolder(const std::string& path) = 0;
  // CopyFileW with fail-if-exists false: overwrites an existing target
  // (unless it is read-only or hidden), keeps attributes and last-write time, creates
  // no folder. Copying a file onto itself fails and leaves it intact.
  virtual Status CopyFileOver(const std::string& source, const std::string& target) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING: renames a file or folder,
  // replacing an existing target file; fails across volumes and onto an
  // existing folder.
  virtual Status MoveFileReplace(const std::string& source, const std::string& target) = 0;
  // Deletes one file (not a folder).
  virtual Status RemoveFile(const std::string& path) = 0;
  // The elevated engine's move: renames the entry `source` itself (a link
  // or reparse point moves as itself, what it names stays) to `target` on
  // the same volume, replacing a file or link there but never a folder.
  // Neither path may pass through a link or reparse point: every folder on
  // the way is opened without following one (POSIX: openat O_NOFOLLOW from
  // "/"; Windows: each folder held open without delete sharing, checked,
  // and the rename made by handle), and the call fails when one is a link,
  // so a folder swapped for a link between two steps is never gone through.
  virtual Status MoveEntry(const std::string& source, const std::string& target) = 0;
  // Creates one new folder under the rules of MoveEntry: fails when
  // anything, a link included, is at `path` or a folder on the way is a link.
  virtual Status MakeNewFolder(const std::string& path) = 0;
  // Deletes a file, a link or an empty folder itself, under the rules of
  // MoveEntry: a link is removed as the link, no link is gone through.
  virtual Status RemoveEntry(const std::string& path) = 0;
  // Removes one empty folder.
  virtual Status RemoveEmptyFolder(const std::string& path) = 0;
  // The folder's entries in the system's order, hidden and system entries
  // included, "." and ".." left out.
  virtual Status ListFolder(const std::string& path, std::vector<FileEntry>& entries) = 0;
  virtual Status GetAttributes(const std::string& path, std::uint32_t& attributes) = 0;
  // Sets ReadOnly, Hidden, System and Archive; other bits are ignored.
  virtual Status SetAttributes(const std::string& path, std::uint32_t attributes) = 0;
  // POSIX: gives the file the execute bits of `posix_mode` (0111 of a
  // st_mode) for each class that may read it, and takes the others away;
  // nothing else changes. Windows has no execute bits: does nothing.
  virtual Status SetExecuteBits(const std::string& path, std::uint32_t posix_mode) = 0;
  virtual Status GetLastWriteTime(const std::string& path, FileTime& time) = 0;
  virtual Status SetLastWriteTime(const std::string& path, FileTime time) = 0;
  // The temporary folder with a trailing "\", as GetTempPathW reports it
  // (POSIX: $TMPDIR, else /tmp). Fails when the system reports none.
  virtual Status TempFolderPath(std::string& path) = 0;
  // The absolute path of an existing file or folder with every link
  // resolved (Windows: also the long names of 8.3 names), as the final path
  // of its handle; no trailing "\". Fails for a missing path.
  virtual Status CanonicalPath(const std::string& path, std::string& canonical) = 0;
  // A text that names the file or folder itself, links followed, whatever
  // path reaches it: equal for two paths exactly when they reach the same
  // object (Windows: volume serial number and file index; POSIX: device and
  // inode). Fails for a missing path. Wine shows host links as reparse
  // points whose target it will not tell, so this is how a guard there
  // recognises a linked folder.
  virtual Status ObjectId(const std::string& path, std::string& id) = 0;
  // The text a symbolic link holds, unresolved, as the system stores it
  // (POSIX: readlink, "/" separators). Windows keeps no links in payloads:
  // fails.
  virtual Status ReadSymbolicLink(const std::string& path, std::string& target) = 0;
  // Whether MakeSymbolicLink makes links here. Windows: false (creating one
  // needs a privilege most installs lack, and Wine makes none), so callers
  // copy a link's target instead.
  virtual bool MakesSymbolicLinks() = 0;
  // Creates `link` as a symbolic link holding `target` as given; refuses an
  // existing `link`. Fails where MakesSymbolicLinks is false.
  virtual Status MakeSymbolicLink(const std::string& link, const std::string& target) = 0;
  // Asks the system to delete a file or an empty folder at the next
  // restart (Windows: MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, which
  // needs administrator rights). POSIX has no such thing: fails.
  virtual Status RemoveAtRestart(const std::string& path) = 0;
  // Asks the system to move the file `source` over `target` at the next
  // restart, before any program can hold either (Windows: MoveFileExW with
  // MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING, administrator
  // rights). Restarts replay such requests in the order they were made; one
  // whose source is gone by then does nothing. POSIX: fails, as above.
  virtual Status MoveAtRestart(const std::string& source, const std::string& target) = 0;
  // Deletes a file or a folder with everything in it, showing nothing.
  // `path` is absolute without a trailing "\". Permanent: walked under the
  // rules of MoveEntry, relative to opened folders; every link or reparse
  // point met is removed as itself, never entered. Not permanent: to the Recycle
  // Bin (Windows: SHFileOperationW FO_DELETE with FOF_ALLOWUNDO; POSIX: the
  // freedesktop.org Trash with its .trashinfo record).
  virtual Status ShellDelete(const std::string& path, bool permanent) = 0;

  // Makes the folder's own entries durable: a file created, renamed or
  // removed in it survives a power loss once this returns (POSIX: fsync of
  // the folder). NTFS logs such changes itself; the Windows layer flushes
  // the folder's handle where the file system allows it.
  virtual Status FlushFolder(const std::string& path) = 0;
  // Makes everything written to the files below `path` (a file or a
  // folder) durable. POSIX: one syncfs of its volume. Windows:
  // FlushFileBuffers on the volume (administrators), else on every file and
  // folder below `path` (Wine refuses the volume). One call instead of one
  // per file is what keeps a durable install of thousands of files fast.
  virtual Status FlushTree(const std::string& path) = 0;
  // Opens `path`, creating it, and takes an exclusive lock on it that lasts
  // while `lock` lives and ends with the process however it ends (POSIX:
  // flock; Windows: a handle that shares nothing). `busy` tells that
  // another process holds it.
  virtual Status LockFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) = 0;
};

// Forwards every call to another file system; fault injectors override the
// calls they need.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : FTarget(target) {}
  Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                  std::unique_ptr<File>& file) override {
    return FTarget.OpenFile(path, access, share, file);
  }
  Status FullPath(const std::string& path, std::string& full) override { return FTarget.FullPath(path, full); }
  bool FileExists(const std::string& path) override { return FTarget.FileExists(path); }
  FileKind KindOf(const std::string& path) override { return FTarget.KindOf(path); }
  bool WritableByOthers(const std::string& path) override { return FTarget.WritableByOthers(path); }
  bool FolderExists(const std::string& path) override { return FTarget.FolderExists(path); }
  Status MakeFolder(const std::string& path) override { return FTarget.MakeFolder(path); }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    return FTarget.CopyFileOver(source, target);
  }
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    return FTarget.MoveFileReplace(source, target);
  }
  Status RemoveFile(const std::string& path) override { return FTarget.RemoveFile(path); }
  Status MoveEntry(const std::string& source, const std::string& target) override {
    return FTarget.MoveEntry(source, target);
  }
  Status RemoveEntry(const std::string& path) override { return FTarget.RemoveEntry(path); }
  Status MakeNewFolder(const std::string& path) override { return FTarget.MakeNewFolder(path); }
  Status RemoveEmptyFolder(const std::string& path) override { return FTarget.RemoveEmptyFolder(path); }
  Status ListFolder(const std::string& path, std::vector<FileEntry>& entries) override {
    return FTarget.ListFolder(path, entries);
  }
  Status GetAttributes(const std::string& path, std::uint32_t& attributes) override {
    return FTarget.GetAttributes(path, attributes);
  }
  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    return FTarget.SetAttributes(path, attributes);
  }
  Status SetExecuteBits(const std::string& path, std::uint32_t posix_mode) override {
    return FTarget.SetExecuteBits(path, posix_mode);
  }
  Status GetLastWriteTime(const std::string& path, FileTime& time) override {
    return FTarget.GetLastWriteTime(path, time);
  }
  Status SetLastWriteTime(const std::string& path, FileTime time) override {
    return FTarget.SetLastWriteTime(path, time);
  }
  Status TempFolderPath(std::string& path) override { return FTarget.TempFolderPath(path); }
  Status CanonicalPath(const std::string& path, std::string& canonical) override {
    return FTarget.CanonicalPath(path, canonical);
  }
  Status ObjectId(const std::string& path, std::string& id) override { return FTarget.ObjectId(path, id); }
  Status ReadSymbolicLink(const std::string& path, std::string& target) override {
    return FTarget.ReadSymbolicLink(path, target);
  }
  bool MakesSymbolicLinks() override { return FTarget.MakesSymbolicLinks(); }
  Status MakeSymbolicLink(const std::string& link, const std::string& target) override {
    return FTarget.MakeSymbolicLink(link, target);
  }
  Status RemoveAtRestart(const std::string& path) override { return FTarget.RemoveAtRestart(path); }
  Status MoveAtRestart(const std::string& source, const std::string& target) override {
    return FTarget.MoveAtRestart(source, target);
  }
  Status ShellDelete(const std::string& path, bool permanent) override {
    return FTarget.ShellDelete(path, permanent);
  }
  Status FlushFolder(const std::string& path) override { return FTarget.FlushFolder(path); }
  Status FlushTree(const std::string& path) override { return FTarget.FlushTree(path); }
  Status LockFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) override {
    return FTarget.LockFile(path, lock, busy);
  }

 protected:
  FileSystem& FTarget;
};

}  // namespace volok::platform
