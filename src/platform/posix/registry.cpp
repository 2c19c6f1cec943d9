#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/code_pages.h"
#include "platform/posix/path_map.h"
#include "platform/posix/registry_store.h"

namespace volok::platform {

namespace {

using posix::ErrnoMessage;

constexpr char kValuesFile[] = ".values.reg";
constexpr char kLockFile[] = ".lock";

using NamedValue = NamedRegistryValue;

// Makes `folder` and every missing folder above it (the store's own base on
// a fresh account). An existing folder keeps its mode.
Status MakeFolders(const std::string& folder, mode_t mode) {
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    std::string path = folder.substr(0, end);
    if (!path.empty() && ::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return Status::Failure(ErrnoMessage(errno, path));
    if (end == std::string::npos) return Status::Ok();
  }
}

std::string RootName(RegistryRoot root) { return RegistryRootName(root); }

std::string Fold(const std::string& name) { return CodePages::BuiltIn().Lower(name); }

// Key names may hold any character but the backslash; a folder name may not
// hold "/", and names starting with "." are kept for the store's own files.
std::string EncodeSegment(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '%' || c == '/' || (i == 0 && c == '.')) {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", static_cast<unsigned char>(c));
      out += buffer;
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeSegment(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 2 < name.size()) {
      out += static_cast<char>(std::strtol(name.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

std::vector<std::string> Segments(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : key + "\\") {
    if (c != '\\') {
      part += c;
    } else if (!part.empty()) {
      parts.push_back(part);
      part.clear();
    }
  }
  return parts;
}

// The folder names directly inside `folder` that are keys (not our files).
std::vector<std::string> KeyFolders(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

// The folder of `key`; with `create`, missing keys are made on the way.
Status ResolveKey(RegistryRoot root, const std::string& key, bool create, std::string& folder) {
  bool private_folder = false;
  folder = posix::RegistryStoreFolder(&private_folder) + "/" + RootName(root);
  if (create) {
    if (Status s = MakeFolders(folder, private_folder ? 0700 : 0755); !s.ok()) return s;
  }
  for (const std::string& segment : Segments(key)) {
    std::string wanted = Fold(segment), found;
    for (const std::string& name : KeyFolders(folder))
      if (Fold(DecodeSegment(name)) == wanted) {
        found = name;
        break;
      }
    if (found.empty()) {
      if (!create) return Status::Failure(ErrnoMessage(ENOENT, RootName(root) + "\\" + key));
      found = EncodeSegment(segment);
      if (::mkdir((folder + "/" + found).c_str(), 0755) != 0 && errno != EEXIST)
        return Status::Failure(ErrnoMessage(errno, RootName(root) + "\\" + key));
    }
    folder += "/" + found;
  }
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Status::Failure(ErrnoMessage(ENOENT, RootName(root) + "\\" + key));
  return Status::Ok();
}

// A control character as \xHH, which regedit's own escapes (\\ and \")
// never start: a line break in a value's name would end its line.
void AppendControl(std::string& out, char c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(c));
  out += buffer;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 32; }

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (IsControl(c)) {
      AppendControl(out, c);
      continue;
    }
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The key's header line: never read back, but a line break in a key name must
// not start a line that reads as a value.
std::string HeaderLine(const std::string& header) {
  std::string out = "[";
  for (char c : header) {
    if (IsControl(c))
      AppendControl(out, c);
    else
      out += c;
  }
  return out + "]\n";
}

bool HasControl(const std::string& text) { return std::any_of(text.begin(), text.end(), IsControl); }

// REG_SZ as regedit writes a string it cannot quote: hex(1), UTF-16 LE with
// its terminating NUL.
std::string HexString(const std::string& text) {
  std::string utf16;
  if (!CodePages::BuiltIn().Encode(1200, text, utf16).ok()) utf16.clear();
  utf16.append(2, '\0');
  std::string out = "hex(1):";
  char buffer[4];
  for (size_t i = 0; i < utf16.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(utf16[i]));
    out += (i ? "," : "") + std::string(buffer);
  }
  return out;
}

std::string FormatValues(const std::string& header, const std::vector<NamedValue>& values) {
  std::string out = "Windows Registry Editor Version 5.00\n\n" + HeaderLine(header);
  for (const NamedValue& v : values) {
    out += v.Name.empty() ? "@" : Quote(v.Name);
    out += "=";
    if (v.Value.Type == RegistryType::Dword) {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "dword:%08x", v.Value.Number);
      out += buffer;
    } else {
      out += HasControl(v.Value.Text) ? HexString(v.Value.Text) : Quote(v.Value.Text);
    }
    out += "\n";
  }
  return out;
}

bool IsHexEscape(const std::string& line, size_t pos) {
  return line.compare(pos, 2, "\\x") == 0 && pos + 3 < line.size() &&
         std::isxdigit(static_cast<unsigned char>(line[pos + 2])) && std::isxdigit(static_cast<unsigned char>(line[pos + 3]));
}

// Reads a quoted text at `pos`, undoing the escapes; advances past it.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& text) {
  if (pos >= line.size() || line[pos] != '"') return false;
  text.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && IsHexEscape(line, pos)) {
      c = static_cast<char>(std::strtol(line.substr(pos + 2, 2).c_str(), nullptr, 16));
      pos += 3;
    } else if (c == '\\' && pos + 1 < line.size()) {
      c = line[++pos];
    }
    text += c;
  }
  return false;
}

bool ParseLine(const std::string& line, NamedValue& value) {
  size_t pos = 0;
  if (line.compare(0, 2, "@=") == 0) {
    value.Name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, value.Name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  std::string data = line.substr(pos + 1);
  if (data.compare(0, 6, "dword:") == 0) {
    value.Value.Type = RegistryType::Dword;
    value.Value.Number = static_cast<std::uint32_t>(std::strtoul(data.c_str() + 6, nullptr, 16));
    return true;
  }
  value.Value.Type = RegistryType::String;
  if (data.compare(0, 7, "hex(1):") == 0) {
    std::string bytes;
    std::istringstream in(data.substr(7));
    for (std::string pair; std::getline(in, pair, ',');) bytes += static_cast<char>(std::strtol(pair.c_str(), nullptr, 16));
    while (bytes.size() >= 2 && bytes[bytes.size() - 1] == '\0' && bytes[bytes.size() - 2] == '\0') bytes.resize(bytes.size() - 2);
    return CodePages::BuiltIn().Decode(1200, bytes, value.Value.Text).ok();
  }
  pos = 0;
  return ParseQuoted(data, pos, value.Value.Text);
}

std::vector<NamedValue> LoadValues(const std::string& folder) {
  std::vector<NamedValue> values;
  std::ifstream in(folder + "/" + kValuesFile);
  for (std::string line; std::getline(in, line);) {
    NamedValue value;
    if (ParseLine(line, value)) values.push_back(value);
  }
  return values;
}

// Writes all of `data` to `fd`, then forces it to the disk.
bool WriteDurably(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t written = ::write(fd, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return ::fsync(fd) == 0;
}

// Makes a rename inside `folder` survive a power loss.
void FlushFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

// Earlier writers named their temporary file after their process; one killed
// mid-write left it behind for good. Runs under the key's lock.
void RemoveStrayTemporaries(const std::string& folder) {
  const std::string prefix = std::string(kValuesFile) + ".tmp";
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
        ::unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
  }
}

// Called under the key's lock, so one fixed temporary name per key is enough:
// a writer killed mid-write leaves at most that one file, which the next
// writer truncates and renames away. Readers see the old file or the new one.
Status SaveValues(const std::string& folder, const std::string& header, const std::vector<NamedValue>& values) {
  std::string target = folder + "/" + kValuesFile;
  std::string temporary = target + ".tmp";
  RemoveStrayTemporaries(folder);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::Failure(ErrnoMessage(errno, temporary));
  bool written = WriteDurably(fd, FormatValues(header, values));
  int error = errno ? errno : EIO;
  ::close(fd);
  if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
    if (written) error = errno;
    ::unlink(temporary.c_str());
    return Status::Failure(ErrnoMessage(error, written ? target : temporary));
  }
  FlushFolder(folder);
  return Status::Ok();
}

// Serialises read-modify-write of one key's values between processes.
class KeyLock final {
 public:
  explicit KeyLock(const std::string& folder) : FFd(::open((folder + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (FFd >= 0) flock(FFd, LOCK_EX);
  }
  ~KeyLock() {
    if (FFd >= 0) ::close(FFd);
  }
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;

 private:
  int FFd;
};

// Like the Windows tree delete, a sub-key that cannot go does not stop the
// others; the first failure is the answer.
Status RemoveTree(const std::string& path) {
  Status first = Status::Ok();
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      struct stat st;
      Status s = Status::Ok();
      if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        s = RemoveTree(child);
      else if (::unlink(child.c_str()) != 0)
        s = Status::Failure(ErrnoMessage(errno, child));
      if (!s.ok() && first.ok()) first = s;
    }
    closedir(dir);
  }
  if (!first.ok()) return first;
  if (::rmdir(path.c_str()) != 0) return Status::Failure(ErrnoMessage(errno, path));
  return Status::Ok();
}

// A deleted key's folder is first renamed to a name of this prefix in its
// parent: one rename takes the whole key away at once, so a process killed
// during the delete leaves either the key or nothing that reads as one
// (names starting with "." are never keys). The next delete in that parent
// removes what such a kill left.
constexpr char kDeletedPrefix[] = ".deleted-";

void RemoveDeletedLeftovers(const std::string& parent) {
  if (DIR* dir = opendir(parent.c_str())) {
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir))
      if (std::string(entry->d_name).rfind(kDeletedPrefix, 0) == 0) names.push_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : names) (void)RemoveTree(parent + "/" + name);
  }
}

Status DeleteKeyFolder(const std::string& folder) {
  const std::string parent = folder.substr(0, folder.rfind('/'));
  RemoveDeletedLeftovers(parent);
  const std::string aside = parent + "/" + kDeletedPrefix + std::to_string(::getpid()) + "-" + folder.substr(folder.rfind('/') + 1);
  if (std::rename(folder.c_str(), aside.c_str()) != 0) return Status::Failure(ErrnoMessage(errno, folder));
  FlushFolder(parent);
  // The key is gone; what of its folder cannot be removed now goes at the
  // next delete in this parent.
  (void)RemoveTree(aside);
  return Status::Ok();
}

class PosixRegistry final : public Registry {
 public:
  Status CreateKey(RegistryRoot root, const std::string& key) override {
    std::string folder;
    return ResolveKey(root, key, true, folder);
  }

  Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                   const std::string& value) override {
    RegistryValue v;
    v.Type = RegistryType::String;
    v.Text = value;
    return Set(root, key, name, v);
  }

  Status SetDword(RegistryRoot root, const std::string& key, const std::string& name,
                  std::uint32_t value) override {
    RegistryValue v;
    v.Type = RegistryType::Dword;
    v.Number = value;
    return Set(root, key, name, v);
  }

  Status DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override {
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    KeyLock lock(folder);
    std::vector<NamedValue> values = LoadValues(folder);
    for (size_t i = 0; i < values.size(); ++i)
      if (Fold(values[i].Name) == Fold(name)) {
        values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
        return SaveValues(folder, Header(root, key), values);
      }
    return Status::Failure(ErrnoMessage(ENOENT, RootName(root) + "\\" + key + "\\" + name));
  }

  Status DeleteKeyTree(RegistryRoot root, const std::string& key) override {
    if (Segments(key).empty()) return Status::Failure("Нельзя удалить корневой раздел реестра");
    std::string folder;
    if (!ResolveKey(root, key, false, folder).ok()) return Status::Ok();
    return DeleteKeyFolder(folder);
  }

  Status ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                   RegistryValue& value) override {
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    for (const NamedValue& v : LoadValues(folder))
      if (Fold(v.Name) == Fold(name)) {
        value = v.Value;
        return Status::Ok();
      }
    return Status::Failure(ErrnoMessage(ENOENT, RootName(root) + "\\" + key + "\\" + name));
  }

  Status SubKeys(RegistryRoot root, const std::string& key, std::vector<std::string>& names) override {
    names.clear();
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    for (const std::string& name : KeyFolders(folder)) names.push_back(DecodeSegment(name));
    return Status::Ok();
  }

  Status Values(RegistryRoot root, const std::string& key, std::vector<NamedRegistryValue>& values) override {
    values.clear();
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    values = LoadValues(folder);
    return Status::Ok();
  }

  Status Flush(RegistryRoot) override { return Status::Ok(); }

  Status SetValues(RegistryRoot root, const std::string& key, const std::vector<NamedRegistryValue>& values) override {
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    KeyLock lock(folder);
    std::vector<NamedValue> stored = LoadValues(folder);
    for (const NamedRegistryValue& value : values) Merge(stored, value);
    return SaveValues(folder, Header(root, key), stored);
  }

 private:
  static std::string Header(RegistryRoot root, const std::string& key) {
    std::string header = RootName(root);
    for (const std::string& segment : Segments(key)) header += "\\" + segment;
    return header;
  }

  Status Set(RegistryRoot root, const std::string& key, const std::string& name, const RegistryValue& value) {
    std::string folder;
    if (Status s = ResolveKey(root, key, false, folder); !s.ok()) return s;
    KeyLock lock(folder);
    std::vector<NamedValue> values = LoadValues(folder);
    Merge(values, {name, value});
    return SaveValues(folder, Header(root, key), values);
  }

  static void Merge(std::vector<NamedValue>& values, const NamedValue& value) {
    for (NamedValue& v : values)
      if (Fold(v.Name) == Fold(value.Name)) {
        v.Value = value.Value;  // the value keeps the spelling of its first writer
        return;
      }
    values.push_back(value);
  }
};

}  // namespace

Registry& Registry::BuiltIn() {
  static PosixRegistry instance;
  return instance;
}

}  // namespace volok::platform
