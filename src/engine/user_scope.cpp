// The scope of a run, and the walls of a per-user one: it installs for its
// user without administrator rights, so whatever it would write for every
// user of the machine is refused before anything changes, naming the
// entry, instead of failing halfway on a denied write (or, run elevated,
// succeeding where no per-user uninstall would be expected to reach).
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "engine/installer_thread.h"
#include "engine/journal_bounds.h"
#include "engine/run_recovery.h"
#include "engine/system_commands.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace volok {

namespace {

using platform::RegistryRoot;

bool Registered(RegistryRoot root, const std::string& key) {
  std::vector<platform::NamedRegistryValue> values;
  return platform::Registry::Default().Values(root, key, values).ok();
}

std::string Absolute(const std::string& path) {
  std::string full;
  return platform::FileSystem::Default().FullPath(path, full).ok() ? full : path;
}

std::string EntryName(const TInstallFile& entry) { return "\"" + entry.Name() + "\" (" + entry.Action() + ")"; }

}  // namespace

void TInstallerThread::ChooseRunScope(TScopeSwitch requested) {
  TInstallScope installed = TInstallScope::Either;
  // An upgrade stays where the installed copy is: its registration says.
  if (!FUnInstaller && FInstall->Scope() == TInstallScope::Either) {
    const std::string key = RegistrationKey(*FInstall);
    if (Registered(RegistryRoot::CurrentUser, key))
      installed = TInstallScope::User;
    else if (Registered(RegistryRoot::LocalMachine, key))
      installed = TInstallScope::Machine;
  }
  const TScopeChoice choice = ChooseScope(FInstall->Scope(), requested, HasAdminRights(""), installed);
  if (!choice.Error.empty()) throw volok::Error(choice.Error, kExitBadCommandLine);
  FScope = choice.Scope;
  FInstall->SetScope(FScope);
}

std::vector<std::string> TInstallerThread::MachineFolders() const {
  using platform::SpecialFolderId;
  std::vector<std::string> folders;
  for (const std::string& name : MachineFolderVariables()) {
    const int index = FVars.Find(name);
    if (index >= 0) folders.push_back(FVars.Variables()[static_cast<std::size_t>(index)].Value);
  }
  platform::Shell& shell = platform::Shell::Default();
  for (SpecialFolderId id : {SpecialFolderId::ProgramFilesX86, SpecialFolderId::ProgramFilesCommonX86,
                             SpecialFolderId::CommonTemplates, SpecialFolderId::CommonMusic,
                             SpecialFolderId::CommonPictures, SpecialFolderId::CommonVideo})
    folders.push_back(shell.SpecialFolder(id));
  std::vector<std::string> named;
  for (const std::string& folder : folders)
    if (!folder.empty()) named.push_back(Absolute(folder));
  return named;
}

void TInstallerThread::CheckUserFolder(const std::string& path, const std::string& what) const {
  const std::string full = Absolute(path);
  for (const std::string& folder : MachineFolders())
    if (PathWithin(full, folder))
      throw volok::Error(what + " в папке для всех пользователей (\"" + folder + "\"): " + path +
                         ". Установка для текущего пользователя (Scope = user) пишет только в папки пользователя.");
}

void TInstallerThread::CheckUserScopeEntries(const TInstall::TInstallFiles& entries) const {
  for (const auto& entry : entries) {
    if (!entry) continue;
    const std::string action = LowerCase(entry->Action());
    if (action == "registrywrite" || action == "registrydelete") {
      const TInstallReg request = ParseRegistryEntry(*entry);
      const auto root = static_cast<RegistryRoot>(request.Root);
      if (request.Root != 0 && root != RegistryRoot::CurrentUser)
        throw volok::Error("Запись " + EntryName(*entry) + " обращается к разделу " + platform::RegistryRootName(root) +
                           ". Установка для текущего пользователя (Scope = user) пишет только в HKEY_CURRENT_USER.");
      continue;
    }
    const std::string target = action == "unzip" ? entry->Destination() : TargetPath(*entry);
    if (!target.empty()) CheckUserFolder(target, "Запись " + EntryName(*entry) + " пишет");
  }
}

}  // namespace volok
