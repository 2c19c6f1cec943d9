// A file system that refuses the n-th change the code under test makes to
// the disk (a write, a new folder, a copy, a move, a deletion, an attribute
// or time), as SQLite's test VFS does, and records every path it was asked
// to change.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace volok::testing {

using platform::Status;

class CountdownFileSystem final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;

  Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                  std::unique_ptr<platform::File>& file) override {
    const bool reading = access == platform::FileAccess::ReadExisting || access == platform::FileAccess::ReadNoLink;
    if (!reading && Fail(path)) return Injected();
    return FTarget.OpenFile(path, access, share, file);
  }
  Status MakeFolder(const std::string& path) override {
    return Fail(path) ? Injected() : FTarget.MakeFolder(path);
  }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    return Fail(target) ? Injected() : FTarget.CopyFileOver(source, target);
  }
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    return Fail(target) ? Injected() : FTarget.MoveFileReplace(source, target);
  }
  Status RemoveFile(const std::string& path) override { return Fail(path) ? Injected() : FTarget.RemoveFile(path); }
  Status MoveEntry(const std::string& source, const std::string& target) override {
    return Fail(target) ? Injected() : FTarget.MoveEntry(source, target);
  }
  Status RemoveEntry(const std::string& path) override { return Fail(path) ? Injected() : FTarget.RemoveEntry(path); }
  Status MakeNewFolder(const std::string& path) override {
    return Fail(path) ? Injected() : FTarget.MakeNewFolder(path);
  }
  Status RemoveEmptyFolder(const std::string& path) override {
    return Fail(path) ? Injected() : FTarget.RemoveEmptyFolder(path);
  }
  Status ShellDelete(const std::string& path, bool permanent) override {
    return Fail(path) ? Injected() : FTarget.ShellDelete(path, permanent);
  }
  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    return Fail(path) ? Injected() : FTarget.SetAttributes(path, attributes);
  }
  Status SetLastWriteTime(const std::string& path, platform::FileTime time) override {
    return Fail(path) ? Injected() : FTarget.SetLastWriteTime(path, time);
  }

  int FailAt = 0;  // 1-based number of the change to refuse
  int Changes = 0;
  std::vector<std::string> Paths;

 private:
  bool Fail(const std::string& path) {
    std::lock_guard<std::mutex> guard(FLock);  // UnZip writes files on several threads
    Paths.push_back(path);
    return ++Changes == FailAt;
  }
  static Status Injected() { return Status::Failure("Ошибка ввода-вывода"); }

  std::mutex FLock;
};

}  // namespace volok::testing
