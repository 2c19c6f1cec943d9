#include "engine/run_journal.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/crc32.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"

namespace volok {

namespace {

using platform::FileSystem;
using platform::Registry;
using platform::RegistryRoot;
using platform::RegistryType;
using platform::RegistryValue;
using platform::Status;

constexpr char kHeader[] = "volok-journal 1";
constexpr char kEnd[] = "end";

FileSystem& Files() { return FileSystem::Default(); }

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out += static_cast<char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

// A value as "<type>\t<payload>": text escaped, a number in decimal, any
// other type's bytes in hex.
std::string FormatValue(const RegistryValue& value) {
  std::string type = std::to_string(static_cast<std::uint32_t>(value.Type)) + "\t";
  if (value.Type == RegistryType::String) return type + Escaped(value.Text);
  if (value.Type == RegistryType::Dword) return type + std::to_string(value.Number);
  return type + Hex(value.Text);
}

RegistryValue ParseValue(const std::string& type, const std::string& payload) {
  RegistryValue value;
  value.Type = static_cast<RegistryType>(std::strtoul(type.c_str(), nullptr, 10));
  if (value.Type == RegistryType::String)
    value.Text = Unescaped(payload);
  else if (value.Type == RegistryType::Dword)
    value.Number = static_cast<std::uint32_t>(std::strtoul(payload.c_str(), nullptr, 10));
  else
    value.Text = Unhex(payload);
  return value;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string Root(RegistryRoot root) { return std::to_string(static_cast<std::uint32_t>(root)); }
RegistryRoot ParseRoot(const std::string& text) {
  return static_cast<RegistryRoot>(std::strtoul(text.c_str(), nullptr, 10));
}

// The journal's file name: the short name as far as it is a safe file name,
// with its checksum, so two programs never share one.
std::string JournalName(const std::string& short_name) {
  std::string folded = LowerCase(short_name), safe;
  for (char c : folded)
    safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.') ? c : '_';
  std::uint32_t value = 0xFFFFFFFF;
  Crc32Update(folded.data(), static_cast<std::uint32_t>(folded.size()), value);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(~value));
  return safe.substr(0, 64) + "-" + crc;
}

void SnapshotInto(TKeySnapshot& snapshot, const std::string& relative) {
  Registry& registry = Registry::Default();
  std::string key = relative.empty() ? snapshot.Key : snapshot.Key + "\\" + relative;
  std::vector<platform::NamedRegistryValue> values;
  if (registry.Values(snapshot.Root, key, values).ok())
    for (auto& value : values) snapshot.Values.push_back({relative, std::move(value)});
  std::vector<std::string> children;
  if (!registry.SubKeys(snapshot.Root, key, children).ok()) return;
  for (const std::string& child : children) {
    std::string path = relative.empty() ? child : relative + "\\" + child;
    snapshot.SubKeys.push_back(path);
    SnapshotInto(snapshot, path);
  }
}

}  // namespace

std::string FormatJournal(const TJournalState& state) {
  std::ostringstream out;
  out << kHeader << "\n";
  out << "run\t" << (state.UnInstall ? "uninstall" : "install") << "\t" << Escaped(state.RunId) << "\n";
  out << "folder\t" << Escaped(state.Folder) << "\t" << (state.FolderExisted ? 1 : 0) << "\n";
  if (!state.Staging.empty()) out << "staging\t" << Escaped(state.Staging) << "\n";
  for (const std::string& name : state.Earlier) out << "earlier\t" << Escaped(name) << "\n";
  for (const TKeySnapshot& key : state.Keys) {
    out << "key\t" << Root(key.Root) << "\t" << Escaped(key.Key) << "\t" << (key.Existed ? 1 : 0) << "\n";
    for (const std::string& sub : key.SubKeys) out << "subkey\t" << Escaped(sub) << "\n";
    for (const auto& value : key.Values)
      out << "keyvalue\t" << Escaped(value.SubKey) << "\t" << Escaped(value.Value.Name) << "\t"
          << FormatValue(value.Value.Value) << "\n";
  }
  for (const TValueSnapshot& value : state.RegistryValues)
    out << "value\t" << Root(value.Root) << "\t" << Escaped(value.Key) << "\t" << Escaped(value.Name) << "\t"
        << (value.Existed ? 1 : 0) << "\t" << FormatValue(value.Old) << "\n";
  for (const TAsideMove& move : state.Asides)
    out << "aside\t" << Escaped(move.Original) << "\t" << Escaped(move.Aside) << "\n";
  for (const TSplitFolder& split : state.Split) {
    out << "split\t" << Escaped(split.Path) << "\n";
    for (const std::string& name : split.Names) out << "splitname\t" << Escaped(name) << "\n";
  }
  for (const std::string& path : state.Kept) out << "kept\t" << Escaped(path) << "\n";
  for (const std::string& path : state.Deferred) out << "deferred\t" << Escaped(path) << "\n";
  if (state.Committed) out << "committed\n";
  out << kEnd << "\n";
  return out.str();
}

bool ParseJournal(const std::string& text, TJournalState& state) {
  state = TJournalState();
  const std::string last = std::string(kEnd) + "\n";
  if (text.size() < last.size() || text.compare(text.size() - last.size(), last.size(), last) != 0) return false;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return false;
  bool ended = false;
  while (std::getline(in, line)) {
    if (ended) return false;
    std::vector<std::string> f = Fields(line);
    const std::string& tag = f[0];
    if (tag == kEnd) {
      ended = true;
    } else if (tag == "run" && f.size() == 3) {
      state.UnInstall = f[1] == "uninstall";
      state.RunId = Unescaped(f[2]);
    } else if (tag == "folder" && f.size() == 3) {
      state.Folder = Unescaped(f[1]);
      state.FolderExisted = f[2] == "1";
    } else if (tag == "staging" && f.size() == 2) {
      state.Staging = Unescaped(f[1]);
    } else if (tag == "earlier" && f.size() == 2) {
      state.Earlier.push_back(Unescaped(f[1]));
    } else if (tag == "key" && f.size() == 4) {
      TKeySnapshot key;
      key.Root = ParseRoot(f[1]);
      key.Key = Unescaped(f[2]);
      key.Existed = f[3] == "1";
      state.Keys.push_back(key);
    } else if (tag == "subkey" && f.size() == 2 && !state.Keys.empty()) {
      state.Keys.back().SubKeys.push_back(Unescaped(f[1]));
    } else if (tag == "keyvalue" && f.size() == 5 && !state.Keys.empty()) {
      state.Keys.back().Values.push_back({Unescaped(f[1]), {Unescaped(f[2]), ParseValue(f[3], f[4])}});
    } else if (tag == "value" && f.size() == 7) {
      TValueSnapshot value;
      value.Root = ParseRoot(f[1]);
      value.Key = Unescaped(f[2]);
      value.Name = Unescaped(f[3]);
      value.Existed = f[4] == "1";
      value.Old = ParseValue(f[5], f[6]);
      state.RegistryValues.push_back(value);
    } else if (tag == "aside" && f.size() == 3) {
      state.Asides.push_back({Unescaped(f[1]), Unescaped(f[2])});
    } else if (tag == "split" && f.size() == 2) {
      state.Split.push_back({Unescaped(f[1]), {}});
    } else if (tag == "splitname" && f.size() == 2 && !state.Split.empty()) {
      state.Split.back().Names.push_back(Unescaped(f[1]));
    } else if (tag == "kept" && f.size() == 2) {
      state.Kept.push_back(Unescaped(f[1]));
    } else if (tag == "deferred" && f.size() == 2) {
      state.Deferred.push_back(Unescaped(f[1]));
    } else if (tag == "committed" && f.size() == 1) {
      state.Committed = true;
    } else {
      return false;
    }
  }
  return ended && !state.Folder.empty();
}

TRunJournal::TRunJournal(const std::string& state_folder, const std::string& short_name)
    : FFolder(IncludeTrailingDelimiter(state_folder)) {
  if (state_folder.empty() || !ForceFolders(state_folder))
    throw volok::Error("Не удалось создать папку журнала установки: " + state_folder + ".");
  const std::string name = JournalName(short_name);
  FPath = FFolder + name + ".journal";
  bool busy = false;
  Status locked = Files().LockFile(FFolder + name + ".lock", FLock, busy);
  if (busy) throw volok::Error(kAnotherRunMessage);
  if (!locked.ok()) throw volok::Error("Не удалось открыть журнал установки: " + locked.message());
}

TRunJournal::~TRunJournal() = default;

bool TRunJournal::LoadInterrupted() {
  // A temporary file is a journal write that never reached its rename: the
  // change it announced was never started.
  (void)Files().RemoveFile(FPath + ".tmp");
  if (!Files().FileExists(FPath)) return false;
  std::unique_ptr<platform::File> file;
  std::string text;
  if (Files().OpenFile(FPath, platform::FileAccess::ReadExisting, platform::FileShare::Read, file).ok()) {
    char buffer[65536];
    std::size_t done = 0;
    while (file->Read(buffer, sizeof buffer, done).ok() && done > 0) text.append(buffer, done);
  }
  if (!ParseJournal(text, FState))
    throw volok::Error("Журнал прерванной установки повреждён: " + FPath + ".");
  return true;
}

void TRunJournal::Save() {
  const std::string text = FormatJournal(FState), temporary = FPath + ".tmp";
  std::unique_ptr<platform::File> file;
  Status status = Files().OpenFile(temporary, platform::FileAccess::CreateAlways, platform::FileShare::None, file);
  if (status.ok()) status = file->Write(text.data(), text.size());
  if (status.ok()) status = file->Flush();
  file.reset();
  if (status.ok()) status = Files().MoveFileReplace(temporary, FPath);
  if (status.ok()) status = Files().FlushFolder(ExcludeTrailingDelimiter(FFolder));
  if (!status.ok()) throw volok::Error("Не удалось записать журнал установки: " + status.message());
}

void TRunJournal::Remove() {
  Status status = Files().RemoveFile(FPath);
  if (status.ok()) status = Files().FlushFolder(ExcludeTrailingDelimiter(FFolder));
  if (!status.ok() && Files().FileExists(FPath))
    throw volok::Error("Не удалось удалить журнал установки: " + status.message());
}

TKeySnapshot SnapshotKey(RegistryRoot root, const std::string& key) {
  TKeySnapshot snapshot;
  snapshot.Root = root;
  snapshot.Key = key;
  std::vector<std::string> children;
  snapshot.Existed = Registry::Default().SubKeys(root, key, children).ok();
  if (snapshot.Existed) SnapshotInto(snapshot, "");
  return snapshot;
}

TValueSnapshot SnapshotValue(RegistryRoot root, const std::string& key, const std::string& name) {
  TValueSnapshot snapshot;
  snapshot.Root = root;
  snapshot.Key = key;
  snapshot.Name = name;
  // Read through the listing, which keeps values of any type.
  std::vector<platform::NamedRegistryValue> values;
  if (!Registry::Default().Values(root, key, values).ok()) return snapshot;
  for (const auto& value : values)
    if (LowerCase(value.Name) == LowerCase(name)) {
      snapshot.Existed = true;
      snapshot.Old = value.Value;
    }
  return snapshot;
}

}  // namespace volok
