// A machine that loses power at the n-th change the code under test makes
// (to a file, a folder or the registry): that change and every one after it
// never happen, as if the process had been killed there. Files opened
// before the loss stop writing too. Reads go on, so the abandoned run ends
// by itself, and what it left is exactly what a kill would leave.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace volok::testing {

using platform::Status;

class PowerSupply final {
 public:
  // True when the change may happen; counts it.
  bool Change() {
    std::lock_guard<std::mutex> guard(FLock);  // UnZip writes on several threads
    if (FDead) return false;
    if (++Changes == FailAt) FDead = true;
    return !FDead;
  }
  bool Dead() const { return FDead; }
  void Restore(int fail_at) {
    FailAt = fail_at;
    Changes = 0;
    FDead = false;
  }
  int FailAt = 0;  // 0: never
  int Changes = 0;

 private:
  std::mutex FLock;
  std::atomic<bool> FDead{false};
};

inline Status PowerLost() { return Status::Failure("Питание отключено"); }

class PowerLossFile final : public platform::FileWrapper {
 public:
  PowerLossFile(std::unique_ptr<platform::File> target, PowerSupply& power)
      : FileWrapper(std::move(target)), FPower(power) {}
  Status Write(const void* buffer, std::size_t size) override {
    return FPower.Change() ? FileWrapper::Write(buffer, size) : PowerLost();
  }
  Status Truncate() override { return FPower.Change() ? FileWrapper::Truncate() : PowerLost(); }
  Status Flush() override { return FPower.Dead() ? PowerLost() : FileWrapper::Flush(); }

 private:
  PowerSupply& FPower;
};

class PowerLossFileSystem final : public platform::FileSystemWrapper {
 public:
  PowerLossFileSystem(platform::FileSystem& target, PowerSupply& power) : FileSystemWrapper(target), FPower(power) {}

  Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                  std::unique_ptr<platform::File>& file) override {
    if (access == platform::FileAccess::ReadExisting || access == platform::FileAccess::ReadNoLink)
      return FTarget.OpenFile(path, access, share, file);
    if (!FPower.Change()) return PowerLost();
    Status status = FTarget.OpenFile(path, access, share, file);
    if (status.ok()) file = std::make_unique<PowerLossFile>(std::move(file), FPower);
    return status;
  }
  Status MakeFolder(const std::string& path) override { return Live() ? FTarget.MakeFolder(path) : PowerLost(); }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    return Live() ? FTarget.CopyFileOver(source, target) : PowerLost();
  }
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    return Live() ? FTarget.MoveFileReplace(source, target) : PowerLost();
  }
  Status RemoveFile(const std::string& path) override { return Live() ? FTarget.RemoveFile(path) : PowerLost(); }
  Status MoveEntry(const std::string& source, const std::string& target) override {
    return Live() ? FTarget.MoveEntry(source, target) : PowerLost();
  }
  Status RemoveEntry(const std::string& path) override { return Live() ? FTarget.RemoveEntry(path) : PowerLost(); }
  Status MakeNewFolder(const std::string& path) override { return Live() ? FTarget.MakeNewFolder(path) : PowerLost(); }
  Status RemoveEmptyFolder(const std::string& path) override {
    return Live() ? FTarget.RemoveEmptyFolder(path) : PowerLost();
  }
  Status ShellDelete(const std::string& path, bool permanent) override {
    return Live() ? FTarget.ShellDelete(path, permanent) : PowerLost();
  }
  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    return Live() ? FTarget.SetAttributes(path, attributes) : PowerLost();
  }
  Status SetExecuteBits(const std::string& path, std::uint32_t mode) override {
    return Live() ? FTarget.SetExecuteBits(path, mode) : PowerLost();
  }
  Status SetLastWriteTime(const std::string& path, platform::FileTime time) override {
    return Live() ? FTarget.SetLastWriteTime(path, time) : PowerLost();
  }
  Status MakeSymbolicLink(const std::string& link, const std::string& target) override {
    return Live() ? FTarget.MakeSymbolicLink(link, target) : PowerLost();
  }
  Status RemoveAtRestart(const std::string& path) override {
    return Live() ? FTarget.RemoveAtRestart(path) : PowerLost();
  }
  Status FlushFolder(const std::string& path) override {
    return FPower.Dead() ? PowerLost() : FTarget.FlushFolder(path);
  }
  Status FlushTree(const std::string& path) override {
    return FPower.Dead() ? PowerLost() : FTarget.FlushTree(path);
  }

 private:
  bool Live() { return FPower.Change(); }
  PowerSupply& FPower;
};

class PowerLossRegistry final : public platform::RegistryWrapper {
 public:
  PowerLossRegistry(platform::Registry& target, PowerSupply& power) : RegistryWrapper(target), FPower(power) {}
  using Root = platform::RegistryRoot;
  Status CreateKey(Root root, const std::string& key) override {
    return FPower.Change() ? FTarget.CreateKey(root, key) : PowerLost();
  }
  Status SetString(Root root, const std::string& key, const std::string& name, const std::string& value) override {
    return FPower.Change() ? FTarget.SetString(root, key, name, value) : PowerLost();
  }
  Status SetDword(Root root, const std::string& key, const std::string& name, std::uint32_t value) override {
    return FPower.Change() ? FTarget.SetDword(root, key, name, value) : PowerLost();
  }
  Status SetValues(Root root, const std::string& key,
                   const std::vector<platform::NamedRegistryValue>& values) override {
    return FPower.Change() ? FTarget.SetValues(root, key, values) : PowerLost();
  }
  Status DeleteValue(Root root, const std::string& key, const std::string& name) override {
    return FPower.Change() ? FTarget.DeleteValue(root, key, name) : PowerLost();
  }
  Status DeleteKeyTree(Root root, const std::string& key) override {
    return FPower.Change() ? FTarget.DeleteKeyTree(root, key) : PowerLost();
  }

 private:
  PowerSupply& FPower;
};

}  // namespace volok::testing
