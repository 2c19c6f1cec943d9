#include <windows.h>

#include <cstring>
#include <memory>

#include "platform/registry.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::Narrow;
using win32::Widen;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<HKEY__, KeyCloser>;

HKEY RootHandle(RegistryRoot root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<std::uint32_t>(root)));
}

// A leading backslash would make RegCreateKeyExW fail; the path always
// starts at the root.
std::wstring KeyPath(const std::string& key) {
  size_t start = key.find_first_not_of('\\');
  return start == std::string::npos ? std::wstring() : Widen(key.substr(start));
}

Status Failure(LONG code, const std::string& key) {
  return Status::Failure(win32::WindowsErrorMessage(static_cast<unsigned long>(code), key));
}

Status OpenKey(RegistryRoot root, const std::string& key, ScopedKey& out) {
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExW(RootHandle(root), KeyPath(key).c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (rc != ERROR_SUCCESS) return Failure(rc, key);
  out.reset(handle);
  return Status::Ok();
}

// Sub-keys first, from the last index to the first, so that enumeration
// indices stay valid while deleting, also past a sub-key that stays. A
// sub-key that cannot go does not stop the others: everything deletable
// goes, and the first failure is the answer. Refuses nothing by itself: the
// caller keeps roots out.
LONG DeleteTree(HKEY parent, const std::wstring& name) {
  HKEY raw = nullptr;
  LONG rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &raw);
  if (rc != ERROR_SUCCESS) return rc;
  ScopedKey key(raw);
  DWORD count = 0, longest = 0;
  rc = RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  LONG first_failure = ERROR_SUCCESS;
  for (DWORD i = count; i-- > 0;) {
    std::wstring child(longest + 1, L'\0');
    DWORD length = longest + 1;
    rc = RegEnumKeyExW(raw, i, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
      child.resize(length);
      rc = DeleteTree(raw, child);
    }
    // A sub-key someone else deleted meanwhile is gone as wanted.
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && first_failure == ERROR_SUCCESS) first_failure = rc;
  }
  key.reset();
  if (first_failure != ERROR_SUCCESS) return first_failure;
  return RegDeleteKeyW(parent, name.c_str());
}

class Win32Registry final : public Registry {
 public:
  Status CreateKey(RegistryRoot root, const std::string& key) override {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(RootHandle(root), KeyPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) return Failure(rc, key);
    RegCloseKey(handle);
    return Status::Ok();
  }

  Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                   const std::string& value) override {
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    std::wstring data = Widen(value);
    LONG rc = RegSetValueExW(handle.get(), Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    return rc == ERROR_SUCCESS ? Status::Ok() : Failure(rc, key);
  }

  Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                  std::uint32_t value) override {
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    DWORD data = value;
    LONG rc = RegSetValueExW(handle.get(), Widen(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof data);
    return rc == ERROR_SUCCESS ? Status::Ok() : Failure(rc, key);
  }

  Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override {
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    LONG rc = RegDeleteValueW(handle.get(), Widen(name).c_str());
    return rc == ERROR_SUCCESS ? Status::Ok() : Failure(rc, key);
  }

  Status DeleteKeyTree(RegistryRoot root, const std::string& key) override {
    std::wstring path = KeyPath(key);
    if (path.empty()) return Status::Failure("Нельзя удалить корневой раздел реестра");
    LONG rc = DeleteTree(RootHandle(root), path);
    if (rc == ERROR_FILE_NOT_FOUND) return Status::Ok();
    return rc == ERROR_SUCCESS ? Status::Ok() : Failure(rc, key);
  }

  Status ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                   RegistryValue& value) override {
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    std::wstring wide_name = Widen(name);
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExW(handle.get(), wide_name.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return Failure(rc, key + "\\" + name);
    std::string data(size, '\0');
    rc = RegQueryValueExW(handle.get(), wide_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &size);
    if (rc != ERROR_SUCCESS) return Failure(rc, key + "\\" + name);
    data.resize(size);
    value = Decoded(type, data);
    if (value.Type != RegistryType::String && value.Type != RegistryType::Dword)
      return Status::Failure("Неподдерживаемый тип значения реестра: " + key + "\\" + name);
    return Status::Ok();
  }

  Status SubKeys(RegistryRoot root, const std::string& key, std::vector<std::string>& names) override {
    names.clear();
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD length = 256;
      LONG rc = RegEnumKeyExW(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) return Failure(rc, key);
      names.push_back(Narrow(std::wstring(name, length)));
    }
    return Status::Ok();
  }

  Status Values(RegistryRoot root, const std::string& key, std::vector<NamedRegistryValue>& values) override {
    values.clear();
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    DWORD longest_name = 0, longest_data = 0;
    LONG rc = RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &longest_name, &longest_data, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return Failure(rc, key);
    for (DWORD i = 0;; ++i) {
      std::wstring name(longest_name + 1, L'\0');
      std::string data(longest_data, '\0');
      DWORD name_length = longest_name + 1, size = longest_data, type = 0;
      rc = RegEnumValueW(handle.get(), i, name.data(), &name_length, nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) return Failure(rc, key);
      data.resize(size);
      NamedRegistryValue value;
      value.Name = Narrow(name.substr(0, name_length));
      value.Value = Decoded(type, data);
      values.push_back(std::move(value));
    }
    return Status::Ok();
  }

  Status Flush(RegistryRoot root) override {
    LONG rc = RegFlushKey(RootHandle(root));
    return rc == ERROR_SUCCESS ? Status::Ok() : Failure(rc, "");
  }

  Status SetValues(RegistryRoot root, const std::string& key, const std::vector<NamedRegistryValue>& values) override {
    ScopedKey handle;
    if (Status s = OpenKey(root, key, handle); !s.ok()) return s;
    for (const NamedRegistryValue& value : values) {
      std::string data = Encoded(value.Value);
      LONG rc = RegSetValueExW(handle.get(), Widen(value.Name).c_str(), 0, static_cast<DWORD>(value.Value.Type),
                               reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
      if (rc != ERROR_SUCCESS) return Failure(rc, key + "\\" + value.Name);
    }
    return Status::Ok();
  }

 private:
  // REG_SZ and REG_DWORD as the store's own; any other type as raw bytes.
  static RegistryValue Decoded(DWORD type, const std::string& data) {
    RegistryValue value;
    value.Type = static_cast<RegistryType>(type);
    if (type == REG_DWORD && data.size() == 4) {
      std::memcpy(&value.Number, data.data(), 4);
    } else if (type == REG_SZ) {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      value.Text = Narrow(text);
    } else {
      if (type == REG_DWORD) value.Type = static_cast<RegistryType>(REG_BINARY);  // a DWORD of odd size
      value.Text = data;
    }
    return value;
  }

  static std::string Encoded(const RegistryValue& value) {
    if (value.Type == RegistryType::Dword)
      return std::string(reinterpret_cast<const char*>(&value.Number), sizeof value.Number);
    if (value.Type != RegistryType::String) return value.Text;
    std::wstring text = Widen(value.Text);
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
  }
};

}  // namespace

Registry& Registry::BuiltIn() {
  static Win32Registry instance;
  return instance;
}

}  // namespace volok::platform
