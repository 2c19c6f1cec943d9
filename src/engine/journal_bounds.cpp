#include "engine/journal_bounds.h"

#include <algorithm>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "engine/install_folder.h"
#include "engine/run_recovery.h"
#include "engine/system_commands.h"
#include "model/install_file.h"
#include "model/variables.h"
#include "platform/registry.h"

namespace volok {

using platform::RegistryRoot;

std::string TargetPath(const TInstallFile& entry) {
  const std::string action = LowerCase(entry.Action());
  if (action == "copy" || action == "copytext") return IncludeTrailingDelimiter(entry.Destination()) + entry.FileName();
  if (action == "copy2" || action == "link") return entry.Destination();
  if (action == "processtext" || action == "deletefile" || action == "deletefolder") return entry.FileName();
  return {};
}

namespace {

bool Same(const std::string& a, const std::string& b) {
  return LowerCase(ExcludeTrailingDelimiter(a)) == LowerCase(ExcludeTrailingDelimiter(b));
}

void AddRegistryTarget(TRunTargets& targets, const TInstallFile& entry) {
  const std::string action = LowerCase(entry.Action());
  if (action != "registrywrite" && action != "registrydelete") return;
  TInstallReg request = ParseRegistryEntry(entry);
  if (request.Root == 0 || request.Key.empty()) return;
  targets.Registry.push_back({static_cast<RegistryRoot>(request.Root), request.Key, request.ValueName});
}

// One target path allows `path`: the very path (or its identity), a match
// of its mask in the same folder, or, for what the run made, a folder above it.
bool TargetAllows(const std::string& target, const std::string& path, bool made, const TFolderGuard& guard,
                  const std::string& folder) {
  std::string identity;
  const bool guarded = guard.MayDelete(target, folder, identity);
  for (const std::string& form : {target, guarded ? identity : target}) {
    if (Same(form, path)) return true;
    const std::string name = ExtractFileName(form);
    if (HasWildcard(name) && Same(ExtractFilePath(form), ExtractFilePath(path)) &&
        MatchesMask(ExtractFileName(path), name))
      return true;
    if (made && PathWithin(form, path)) return true;
  }
  return false;
}

std::string AsideWhy(const TAsideMove& move, const TFolderGuard& guard, const TRunTargets& targets,
                     const std::string& folder) {
  std::string identity;
  if (!guard.MayDelete(move.Original, folder, identity)) return "путь защищён";
  if (PathWithin(move.Original, folder)) return {};
  for (const std::string& target : targets.Paths)
    if (TargetAllows(target, move.Original, move.Aside.empty(), guard, folder)) return {};
  return "описание программы не называет этот путь";
}

// `key` is `above` or lies below it, by whole segments, without case.
bool KeyWithin(const std::string& key, const std::string& above) { return PathWithin(key, above); }

// A key the description deletes whole, or the program's Add/Remove key.
bool WholeKey(const TRunTargets& targets, RegistryRoot root, const std::string& key) {
  if (root == targets.RegistrationRoot && Same(key, targets.RegistrationKey)) return true;
  for (const auto& target : targets.Registry)
    if (target.Root == root && target.ValueName.empty() && Same(target.Key, key)) return true;
  return false;
}

bool NamedValue(const TRunTargets& targets, RegistryRoot root, const std::string& key, const std::string& name) {
  for (const auto& target : targets.Registry)
    if (target.Root == root && Same(target.Key, key) && !target.ValueName.empty() &&
        LowerCase(target.ValueName) == LowerCase(name))
      return true;
  return false;
}

// A key the run recorded as made by it is deleted whole by a rollback, so
// it may hold nothing but the way down to the targets and the values they
// write: anything else in it was there before, whatever the record says.
bool OnlyTheRuns(const TRunTargets& targets, RegistryRoot root, const std::string& key) {
  if (WholeKey(targets, root, key)) return true;
  auto& registry = platform::Registry::Default();
  std::vector<std::string> children;
  if (!registry.SubKeys(root, key, children).ok()) return true;  // gone: nothing to delete
  std::vector<platform::NamedRegistryValue> values;
  if (registry.Values(root, key, values).ok())
    for (const auto& value : values)
      if (!NamedValue(targets, root, key, value.Name)) return false;
  for (const std::string& child : children) {
    const std::string path = key + "\\" + child;
    bool on_the_way = false;
    for (const auto& target : targets.Registry)
      on_the_way = on_the_way || (target.Root == root && KeyWithin(target.Key, path));
    if (!on_the_way || !OnlyTheRuns(targets, root, path)) return false;
  }
  return true;
}

std::string KeyWhy(const TKeySnapshot& key, const TRunTargets& targets) {
  if (WholeKey(targets, key.Root, key.Key)) return {};
  for (const auto& target : targets.Registry)
    if (target.Root == key.Root && KeyWithin(target.Key, key.Key)) {
      // Only a key the description deletes whole is recorded with its content.
      if (key.Existed) return "раздел записан как существовавший, но описание его не удаляет";
      return OnlyTheRuns(targets, key.Root, key.Key) ? std::string() : "в разделе есть то, чего не писала программа";
    }
  return "описание программы не называет этот раздел реестра";
}

template <typename T, typename Why>
void Keep(std::vector<T>& records, std::vector<std::string>& refused, Why why_of) {
  std::vector<T> kept;
  for (T& record : records) {
    std::string shown;
    const std::string why = why_of(record, shown);
    if (why.empty())
      kept.push_back(std::move(record));
    else
      refused.push_back("Запись журнала отклонена и не выполнена: " + shown + ": " + why + ".");
  }
  records = std::move(kept);
}

}  // namespace

TRunTargets RunTargets(const std::vector<std::unique_ptr<TInstallFile>>& install,
                       const std::vector<std::unique_ptr<TInstallFile>>& uninstall, TVariables vars,
                       const std::string& folder, RegistryRoot registration_root,
                       const std::string& registration_key) {
  TRunTargets targets;
  targets.RegistrationRoot = registration_root;
  targets.RegistrationKey = registration_key;
  vars.Add("InstallPath", ExcludeTrailingDelimiter(folder));
  for (const auto* list : {&install, &uninstall})
    for (const auto& entry : *list) {
      if (!entry) continue;
      TInstallFile processed = *entry;
      vars.Process(processed);
      // An uninstall records its registry entries as written: both forms.
      for (const TInstallFile* form : {&processed, entry.get()}) AddRegistryTarget(targets, *form);
      const std::string path = TargetPath(processed);
      if (!path.empty()) targets.Paths.push_back(path);
    }
  return targets;
}

bool BoundJournal(TJournalState& state, const TFolderGuard& guard, const TRunTargets& targets,
                  std::vector<std::string>& refused, std::string& why) {
  try {
    (void)guard.ResolveInstallFolder(state.Folder);
  } catch (const volok::Error& error) {
    why = error.what();
    return false;
  }
  Keep(state.Asides, refused, [&](const TAsideMove& move, std::string& shown) {
    shown = "\"" + move.Original + "\"";
    return AsideWhy(move, guard, targets, state.Folder);
  });
  Keep(state.Keys, refused, [&](const TKeySnapshot& key, std::string& shown) {
    shown = platform::RegistryRootName(key.Root) + "\\" + key.Key;
    return KeyWhy(key, targets);
  });
  Keep(state.RegistryValues, refused, [&](const TValueSnapshot& value, std::string& shown) {
    shown = platform::RegistryRootName(value.Root) + "\\" + value.Key + "\\" + value.Name;
    return NamedValue(targets, value.Root, value.Key, value.Name) ? std::string() : "описание программы не называет это значение реестра";
  });
  return true;
}

}  // namespace volok
