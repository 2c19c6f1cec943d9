// The journal's text form. Each record is one line ending in the CRC-32 of
// its text, and the last record carries the CRC-32 of all before it, so a
// write that was cut short (every whole record checks, the end is missing)
// is told apart from a journal that was altered or made up.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/crc32.h"
#include "engine/run_journal.h"

namespace volok {

namespace {

using platform::RegistryRoot;
using platform::RegistryType;
using platform::RegistryValue;

constexpr char kHeader[] = "volok-journal 2";
constexpr char kEnd[] = "end";
constexpr std::size_t kMaxRunId = 32;

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

bool Digits(const std::string& text, std::size_t most) {
  if (text.empty() || text.size() > most) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool Number(const std::string& text, std::uint32_t& number) {
  if (!Digits(text, 10)) return false;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  number = static_cast<std::uint32_t>(value);
  return value <= 0xFFFFFFFFull;
}

bool HexDigits(const std::string& text) {
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return text.size() % 2 == 0;
}

bool ParseValue(const std::string& type, const std::string& payload, RegistryValue& value) {
  std::uint32_t kind = 0;
  if (!Number(type, kind)) return false;
  value.Type = static_cast<RegistryType>(kind);
  if (value.Type == RegistryType::String) {
    value.Text = Unescaped(payload);
    return true;
  }
  if (value.Type == RegistryType::Dword) return Number(payload, value.Number);
  value.Text = Unhex(payload);
  return HexDigits(payload);
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

bool Flag(const std::string& text, bool& flag) {
  flag = text == "1";
  return text == "0" || text == "1";
}

std::string Root(RegistryRoot root) { return std::to_string(static_cast<std::uint32_t>(root)); }
bool ParseRoot(const std::string& text, RegistryRoot& root) {
  std::uint32_t value = 0;
  if (!Number(text, value)) return false;
  root = static_cast<RegistryRoot>(value);
  return root == RegistryRoot::ClassesRoot || root == RegistryRoot::CurrentUser ||
         root == RegistryRoot::LocalMachine || root == RegistryRoot::Users || root == RegistryRoot::CurrentConfig;
}

std::string Crc(const std::string& text, std::size_t size) {
  std::uint32_t value = 0xFFFFFFFF;
  Crc32Update(text.data(), static_cast<std::uint32_t>(size), value);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(~value));
  return digits;
}

std::string Crc(const std::string& text) { return Crc(text, text.size()); }

// Every line gets its checksum; the end record counts the records and
// seals all bytes before it.
std::string Sealed(const std::string& lines) {
  std::string sealed;
  std::size_t count = 0, start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    const std::string record = lines.substr(start, end - start);
    sealed += record + "\t#" + Crc(record) + "\n";
    ++count;
    start = end + 1;
  }
  const std::string last = std::string(kEnd) + "\t" + std::to_string(count) + "\t" + Crc(sealed);
  return sealed + last + "\t#" + Crc(last) + "\n";
}

// The records of a sealed text, checksums checked and taken off.
TJournalText Unsealed(const std::string& text, std::vector<std::string>& records, std::string& why) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // the last line was cut short
    const std::string line = text.substr(start, end - start);
    const std::size_t mark = line.rfind('\t');
    const std::string number = std::to_string(records.size() + 1);
    if (mark == std::string::npos || line.size() - mark != 10 || line[mark + 1] != '#' ||
        Crc(line.substr(0, mark)) != line.substr(mark + 2)) {
      why = "контрольная сумма записи " + number + " не сходится";
      return TJournalText::Refused;
    }
    const std::string record = line.substr(0, mark);
    if (record.rfind(std::string(kEnd) + "\t", 0) == 0) {
      if (end + 1 != text.size()) {
        why = "после конца журнала есть ещё записи";
        return TJournalText::Refused;
      }
      if (record != std::string(kEnd) + "\t" + std::to_string(records.size()) + "\t" + Crc(text, start)) {
        why = "контрольная сумма журнала не сходится";
        return TJournalText::Refused;
      }
      return TJournalText::Valid;
    }
    records.push_back(record);
    start = end + 1;
  }
  why = "журнал обрывается: его запись была прервана";
  return TJournalText::Torn;
}

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

// A path below the install folder: plain names joined by "\\", so a record
// can never reach out of the folder it belongs to.
bool RelativeInside(const std::string& path) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    if (!PlainName(path.substr(start, end == std::string::npos ? std::string::npos : end - start))) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool ValidRunId(const std::string& id) {
  if (id.empty() || id.size() > kMaxRunId) return false;
  for (char c : id)
    if (!std::isdigit(static_cast<unsigned char>(c)) && !(c >= 'a' && c <= 'z')) return false;
  return true;
}

// Reads the records in order, refusing what no run of this engine writes.
class TRecordReader final {
 public:
  explicit TRecordReader(TJournalState& state) : FState(state) {}

  bool Read(const std::string& record, bool first) {
    if (first) return Expect(record == kHeader, "это не журнал этой программы");
    if (FState.Committed) return Expect(false, "запись после отметки о завершении");
    const std::vector<std::string> f = Fields(record);
    const std::string& tag = f[0];
    if (!FHasFolder) return ReadStart(tag, f);
    if (tag == "staging" && f.size() == 2) {
      FState.Staging = Unescaped(f[1]);
      return Expect(FState.Staging == "Backup.run-" + FState.RunId, "чужая промежуточная папка");
    }
    if (tag == "earlier" && f.size() == 2) {
      FState.Earlier.push_back(Unescaped(f[1]));
      return Expect(PlainName(FState.Earlier.back()), "не имя элемента папки");
    }
    if (tag == "key" && f.size() == 4) {
      TKeySnapshot key;
      key.Key = Unescaped(f[2]);
      FState.Keys.push_back(key);
      return Expect(ParseRoot(f[1], FState.Keys.back().Root) && Flag(f[3], FState.Keys.back().Existed) &&
                        !key.Key.empty(),
                    "неверный раздел реестра");
    }
    if (tag == "subkey" && f.size() == 2 && !FState.Keys.empty()) {
      FState.Keys.back().SubKeys.push_back(Unescaped(f[1]));
      return true;
    }
    if (tag == "keyvalue" && f.size() == 5 && !FState.Keys.empty()) {
      TKeySnapshot::TValue value{Unescaped(f[1]), {Unescaped(f[2]), {}}};
      FState.Keys.back().Values.push_back(value);
      return Expect(ParseValue(f[3], f[4], FState.Keys.back().Values.back().Value.Value), "неверное значение реестра");
    }
    if (tag == "value" && f.size() == 7) {
      TValueSnapshot value;
      value.Key = Unescaped(f[2]);
      value.Name = Unescaped(f[3]);
      FState.RegistryValues.push_back(value);
      TValueSnapshot& added = FState.RegistryValues.back();
      return Expect(ParseRoot(f[1], added.Root) && Flag(f[4], added.Existed) && ParseValue(f[5], f[6], added.Old) &&
                        !added.Key.empty(),
                    "неверное значение реестра");
    }
    if (tag == "aside" && f.size() == 3) {
      FState.Asides.push_back({Unescaped(f[1]), Unescaped(f[2])});
      return Expect(AsideName(FState.Asides.back()), "чужое имя отложенного файла");
    }
    if (tag == "split" && f.size() == 2) {
      FState.Split.push_back({Unescaped(f[1]), {}});
      return Expect(RelativeInside(FState.Split.back().Path), "папка вне папки установки");
    }
    if (tag == "splitname" && f.size() == 2 && !FState.Split.empty()) {
      FState.Split.back().Names.push_back(Unescaped(f[1]));
      return Expect(PlainName(FState.Split.back().Names.back()), "не имя элемента папки");
    }
    if ((tag == "kept" || tag == "deferred") && f.size() == 2) {
      auto& paths = tag == "kept" ? FState.Kept : FState.Deferred;
      paths.push_back(Unescaped(f[1]));
      return Expect(RelativeInside(paths.back()), "файл вне папки установки");
    }
    if (tag == "committed" && f.size() == 1) {
      FState.Committed = true;
      return true;
    }
    return Expect(false, "неизвестная запись");
  }

  bool Complete(std::string& why) const {
    if (FHasFolder) return true;
    why = "в журнале нет папки установки";
    return false;
  }

  const std::string& Why() const { return FWhy; }

 private:
  // The run and its folder come first, once each.
  bool ReadStart(const std::string& tag, const std::vector<std::string>& f) {
    if (!FHasRun) {
      FHasRun = tag == "run" && f.size() == 3 && (f[1] == "install" || f[1] == "uninstall");
      FState.UnInstall = FHasRun && f[1] == "uninstall";
      FState.RunId = FHasRun ? Unescaped(f[2]) : std::string();
      return Expect(FHasRun && ValidRunId(FState.RunId), "неверная запись о запуске");
    }
    FHasFolder = tag == "folder" && f.size() == 3;
    FState.Folder = FHasFolder ? Unescaped(f[1]) : std::string();
    return Expect(FHasFolder && !FState.Folder.empty() && Flag(f[2], FState.FolderExisted), "неверная папка установки");
  }

  // A moved-aside name is the original's with the run's suffix; a new
  // file's record has none.
  bool AsideName(const TAsideMove& move) const {
    if (move.Original.empty()) return false;
    if (move.Aside.empty()) return true;
    const std::string prefix = move.Original + ".volok-" + FState.RunId + ".";
    return move.Aside.size() > prefix.size() && move.Aside.compare(0, prefix.size(), prefix) == 0 &&
           Digits(move.Aside.substr(prefix.size()), 9);
  }

  bool Expect(bool condition, const char* why) {
    if (!condition) FWhy = why;
    return condition;
  }

  TJournalState& FState;
  bool FHasRun = false, FHasFolder = false;
  std::string FWhy;
};

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
  return Sealed(out.str());
}

TJournalText ParseJournal(const std::string& text, TJournalState& state, std::string& why) {
  state = TJournalState();
  std::vector<std::string> records;
  TJournalText opened = Unsealed(text, records, why);
  if (opened != TJournalText::Valid) return opened;
  TRecordReader reader(state);
  for (std::size_t i = 0; i < records.size(); ++i)
    if (!reader.Read(records[i], i == 0)) {
      why = "запись " + std::to_string(i + 1) + " не годится: " + reader.Why();
      return TJournalText::Refused;
    }
  if (!reader.Complete(why)) return TJournalText::Refused;
  return TJournalText::Valid;
}

}  // namespace volok
