#include "engine/run_journal.h"

#include <cctype>
#include <cstdio>

#include "common/crc32.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"

namespace volok {

namespace {

using platform::FileSystem;
using platform::Registry;
using platform::RegistryRoot;
using platform::Status;

FileSystem& Files() { return FileSystem::Default(); }

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

TRunJournal::TRunJournal(const platform::StatePlace& place, const std::string& short_name)
    : FFolder(IncludeTrailingDelimiter(place.Folder())) {
  if (place.Base.empty()) throw volok::Error("Не удалось создать папку журнала установки: " + place.Folder() + ".");
  if (Status prepared = platform::PrepareStateFolder(place, FNotes); !prepared.ok())
    throw volok::Error("Не удалось создать папку журнала установки: " + prepared.message());
  const std::string name = JournalName(short_name);
  FPath = FFolder + name + ".journal";
  bool busy = false;
  Status locked = platform::LockStateFile(FFolder + name + ".lock", FLock, busy);
  if (busy) throw volok::Error(kAnotherRunMessage);
  if (!locked.ok()) throw volok::Error("Не удалось открыть журнал установки: " + locked.message());
}

TRunJournal::TRunJournal(const std::string& state_folder, const std::string& short_name)
    : TRunJournal(platform::ChosenPlace(state_folder), short_name) {}

TRunJournal::~TRunJournal() = default;

bool TRunJournal::LoadInterrupted() {
  // A temporary file is a journal write that never reached its rename: the
  // change it announced was never started.
  (void)Files().RemoveFile(FPath + ".tmp");
  std::string text, why;
  switch (platform::ReadStateFile(FPath, text, why)) {
    case platform::StateRead::Missing:
      return false;
    case platform::StateRead::Untrusted:
      SetAside(FPath, why);
      return false;
    case platform::StateRead::Failed:
      throw volok::Error("Журнал прерванной установки не читается: " + why);
    case platform::StateRead::Read:
      break;
  }
  switch (ParseJournal(text, FState, why)) {
    case TJournalText::Valid:
      return true;
    case TJournalText::Torn:
      FState = TJournalState();
      throw volok::Error("Журнал прерванной установки повреждён: " + FPath + ".");
    case TJournalText::Refused:
      break;
  }
  FState = TJournalState();
  SetAside(FPath, why);
  return false;
}

void TRunJournal::Refuse(const std::string& why) {
  FState = TJournalState();
  SetAside(FPath, why);
}

void TRunJournal::SetAside(const std::string& path, const std::string& why) {
  std::string aside;
  Status moved = platform::SetStateEntryAside(path, aside);
  // Not moved, it would be met at every start: this run cannot go on then.
  if (!moved.ok())
    throw volok::Error("Журнал не принят (" + why + "), и его не удалось отложить: " + moved.message());
  FNotes.push_back("Журнал не принят и не выполнен (" + why + "): \"" + path + "\" переименован в \"" + aside +
                   "\".");
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
