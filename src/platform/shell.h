// Shell services: the system's special folders. (Links, the folder dialog
// and the recycle-bin delete join this service or the file system.)
#pragma once

#include <string>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// The CSIDL numbers of the special folders the engine names.
enum class SpecialFolderId : int {
  Programs = 2,
  Personal = 5,
  Favorites = 6,
  StartUp = 7,
  Recent = 8,
  SendTo = 9,
  StartMenu = 11,
  DesktopDirectory = 16,
  NetHood = 19,
  Fonts = 20,
  Templates = 21,
  CommonStartMenu = 22,
  CommonPrograms = 23,
  CommonStartUp = 24,
  CommonDesktopDirectory = 25,
  AppData = 26,
  PrintHood = 27,
  LocalAppData = 28,
  CommonFavorites = 31,
  InternetCache = 32,
  Cookies = 33,
  History = 34,
  CommonAppData = 35,
  Windows = 36,
  System = 37,
  ProgramFiles = 38,
  MyPictures = 39,
  ProgramFilesCommon = 43,
  CommonDocuments = 46,
  CommonAdminTools = 47,
  AdminTools = 48,
  // Not named by any variable; the install and delete guards protect them.
  MyMusic = 13,
  MyVideo = 14,
  Profile = 40,
  ProgramFilesX86 = 42,
  ProgramFilesCommonX86 = 44,
  CommonTemplates = 45,
  CommonMusic = 53,
  CommonPictures = 54,
  CommonVideo = 55,
  Resources = 56,
};

class Shell {
 public:
  virtual ~Shell() = default;

  static Shell& Default() { return DefaultSlot<Shell>::Get(); }
  static Shell& BuiltIn();

  // The folder's path without a trailing backslash, never creating it; empty
  // when the system has no such folder. Windows: SHGetSpecialFolderPathW.
  // POSIX: the XDG user folders and standard places (see README).
  virtual std::string SpecialFolder(SpecialFolderId id) = 0;
  // Writes a shortcut file at `link_path` to `program` with `arguments` and
  // `working_folder`; nothing else is set. Windows: the ShellLink object
  // through IShellLinkW and IPersistFile (fails when it cannot be created;
  // the save's own answer is `saved`). POSIX: the Shell Link Binary format.
  virtual Status CreateShellLink(const std::string& link_path, const std::string& program,
                                 const std::string& arguments, const std::string& working_folder,
                                 bool& saved) = 0;
};

// The bytes of a Shell Link Binary file (.lnk) that points at the local path
// `program`, with its arguments and working folder, as the shell writes one
// without an item-id list.
std::string ShellLinkBytes(const std::string& program, const std::string& arguments,
                           const std::string& working_folder);

}  // namespace volok::platform
