#include "platform/shell.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/posix/path_map.h"

namespace volok::platform {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Home() {
  std::string home = Env("HOME");
  if (home.empty())
    if (const passwd* entry = getpwuid(getuid())) home = entry->pw_dir;
  return home;
}

// An XDG base folder: the variable when set to an absolute path, else the
// default below the home folder.
std::string BaseFolder(const char* variable, const char* fallback) {
  std::string value = Env(variable);
  return !value.empty() && value[0] == '/' ? value : Home() + "/" + fallback;
}

// An XDG user folder (Desktop, Documents, ...) as xdg-user-dirs records it
// in user-dirs.dirs, e.g. XDG_DESKTOP_DIR="$HOME/Desktop".
std::string UserFolder(const std::string& key, const char* fallback) {
  std::ifstream dirs(BaseFolder("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
  std::string line, prefix = "XDG_" + key + "_DIR=\"";
  while (std::getline(dirs, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(prefix.size());
    if (value.empty() || value.back() != '"') break;
    value.pop_back();
    if (value.compare(0, 5, "$HOME") == 0) value = Home() + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
  }
  return Home() + "/" + fallback;
}

std::string NativeFolder(SpecialFolderId id) {
  using Id = SpecialFolderId;
  switch (id) {
    case Id::Programs:
    case Id::StartMenu: return BaseFolder("XDG_DATA_HOME", ".local/share") + "/applications";
    case Id::StartUp: return BaseFolder("XDG_CONFIG_HOME", ".config") + "/autostart";
    case Id::Personal: return UserFolder("DOCUMENTS", "Documents");
    case Id::DesktopDirectory: return UserFolder("DESKTOP", "Desktop");
    case Id::Templates: return UserFolder("TEMPLATES", "Templates");
    case Id::MyPictures: return UserFolder("PICTURES", "Pictures");
    case Id::MyMusic: return UserFolder("MUSIC", "Music");
    case Id::MyVideo: return UserFolder("VIDEOS", "Videos");
    case Id::Profile: return Home();
    case Id::Fonts: return BaseFolder("XDG_DATA_HOME", ".local/share") + "/fonts";
    case Id::AppData: return BaseFolder("XDG_CONFIG_HOME", ".config");
    case Id::LocalAppData: return BaseFolder("XDG_DATA_HOME", ".local/share");
    case Id::InternetCache: return BaseFolder("XDG_CACHE_HOME", ".cache");
    case Id::CommonStartMenu:
    case Id::CommonPrograms: return "/usr/share/applications";
    case Id::CommonStartUp: return "/etc/xdg/autostart";
    case Id::CommonAppData: return "/var/lib";
    case Id::ProgramFiles: return "/opt";
    default: return {};  // no equivalent on this system
  }
}

class PosixShell final : public Shell {
 public:
  std::string SpecialFolder(SpecialFolderId id) override {
    std::string native = NativeFolder(id);
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    return native.empty() ? native : posix::FromNativePath(native);
  }

  Status CreateShellLink(const std::string& link_path, const std::string& program, const std::string& arguments,
                         const std::string& working_folder, bool& saved) override {
    std::string native;
    saved = false;
    if (!posix::ToNativePath(link_path, native)) return Status::Ok();
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    out << ShellLinkBytes(program, arguments, working_folder);
    out.flush();
    saved = static_cast<bool>(out);
    return Status::Ok();
  }
};

}  // namespace

Shell& Shell::BuiltIn() {
  static PosixShell instance;
  return instance;
}

}  // namespace volok::platform
