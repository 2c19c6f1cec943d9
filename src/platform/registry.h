// The Windows registry. Key paths are below a predefined root, separated by
// backslashes; leading backslashes are ignored, and names match ignoring
// case. Always the process's default view (no 64-bit flag).
// POSIX keeps a registry of its own with the same behaviour: one folder per
// key under $VOLOK_REGISTRY_DIR (default $XDG_DATA_HOME/volok/registry), the
// values of a key in a ".reg" text file in its folder, replaced atomically.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

enum class RegistryRoot : std::uint32_t {
  ClassesRoot = 0x80000000,
  CurrentUser = 0x80000001,
  LocalMachine = 0x80000002,
  Users = 0x80000003,
  CurrentConfig = 0x80000005,
};

// The root's full name ("HKEY_LOCAL_MACHINE"); "HKEY_UNKNOWN" for another value.
std::string RegistryRootName(RegistryRoot root);

enum class RegistryType : std::uint32_t {
  String = 1,  // REG_SZ
  Dword = 4,   // REG_DWORD
};

struct RegistryValue {
  RegistryType Type = RegistryType::String;
  std::string Text;          // REG_SZ; for a type of another number, its raw bytes
  std::uint32_t Number = 0;  // REG_DWORD
};

struct NamedRegistryValue {
  std::string Name;
  RegistryValue Value;
};

class Registry {
 public:
  virtual ~Registry() = default;

  static Registry& Default() { return DefaultSlot<Registry>::Get(); }
  static Registry& BuiltIn();

  // Opens the key with full access, creating it and missing keys above it.
  virtual Status CreateKey(RegistryRoot root, const std::string& key) = 0;
  // Set a value in an existing key (a missing key fails).
  virtual Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                           const std::string& value) = 0;
  virtual Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                          std::uint32_t value) = 0;
  // Deletes one value of an existing key; the key stays.
  virtual Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) = 0;
  // Deletes the key and everything below it, sub-keys first. A key that
  // does not exist is no error. A sub-key that cannot be deleted stops none
  // of the others: all that can go goes, and the first failure is reported.
  virtual Status DeleteKeyTree(RegistryRoot root, const std::string& key) = 0;
  // Reads a value; fails when the key or the value is missing.
  virtual Status ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                           RegistryValue& value) = 0;
  // The names of the key's direct sub-keys; fails when the key is missing.
  virtual Status SubKeys(RegistryRoot root, const std::string& key, std::vector<std::string>& names) = 0;
  // Every value of the key, of any type (see RegistryValue), so that it can
  // be put back exactly; fails when the key is missing.
  virtual Status Values(RegistryRoot root, const std::string& key, std::vector<NamedRegistryValue>& values) = 0;
  // Sets all `values` in an existing key. The native store replaces the
  // key's file once, so a reader or a power loss sees all or none of them;
  // Windows sets them one by one.
  virtual Status SetValues(RegistryRoot root, const std::string& key, const std::vector<NamedRegistryValue>& values) = 0;
  // Returns once the root's changes are on the disk (RegFlushKey: Windows
  // otherwise writes hives lazily). The native store writes durably anyway.
  virtual Status Flush(RegistryRoot root) = 0;
};

// Forwards every call; fault injectors override what they need.
class RegistryWrapper : public Registry {
 public:
  explicit RegistryWrapper(Registry& target) : FTarget(target) {}
  Status CreateKey(RegistryRoot root, const std::string& key) override { return FTarget.CreateKey(root, key); }
  Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                   const std::string& value) override {
    return FTarget.SetString(root, key, name, value);
  }
  Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                  std::uint32_t value) override {
    return FTarget.SetDword(root, key, name, value);
  }
  Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override {
    return FTarget.DeleteValue(root, key, name);
  }
  Status DeleteKeyTree(RegistryRoot root, const std::string& key) override {
    return FTarget.DeleteKeyTree(root, key);
  }
  Status ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                   RegistryValue& value) override {
    return FTarget.ReadValue(root, key, name, value);
  }
  Status SubKeys(RegistryRoot root, const std::string& key, std::vector<std::string>& names) override {
    return FTarget.SubKeys(root, key, names);
  }
  Status Values(RegistryRoot root, const std::string& key, std::vector<NamedRegistryValue>& values) override {
    return FTarget.Values(root, key, values);
  }
  Status SetValues(RegistryRoot root, const std::string& key, const std::vector<NamedRegistryValue>& values) override {
    return FTarget.SetValues(root, key, values);
  }
  Status Flush(RegistryRoot root) override { return FTarget.Flush(root); }

 protected:
  Registry& FTarget;
};

}  // namespace volok::platform
