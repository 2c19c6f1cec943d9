#include "platform/state_folder.h"

#include "platform/runtime.h"

namespace volok::platform {

namespace {

constexpr unsigned kTypeMask = 0170000, kFolderType = 0040000, kRegularType = 0100000, kLinkType = 0120000;
constexpr unsigned kOthersWrite = 0022, kSticky = 01000;

}  // namespace

std::string StatePlace::Folder() const {
  std::string folder = Base;
  for (const std::string& name : Names) {
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    folder += name;
  }
  return folder;
}

StatePlace ChosenPlace(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return {".", {path}, false};
  return {slash == 0 || path[slash - 1] == ':' ? path.substr(0, slash + 1) : path.substr(0, slash),
          {path.substr(slash + 1)}, false};
}

std::string JournalFolder() {
  const StatePlace place = JournalPlace();
  return place.Base.empty() ? std::string() : place.Folder();
}

bool TrustedPosixEntry(unsigned uid, unsigned mode, unsigned running_uid, TrustScope scope, bool want_folder,
                       std::string& why) {
  const unsigned type = mode & kTypeMask;
  if (type == kLinkType) {
    why = "это символическая ссылка";
    return false;
  }
  const bool folder = scope == TrustScope::Above || want_folder;
  if (type != (folder ? kFolderType : kRegularType)) {
    why = folder ? "это не папка" : "это не обычный файл";
    return false;
  }
  if (uid != 0 && uid != running_uid) {
    why = "владелец — другая учётная запись (uid " + std::to_string(uid) + ")";
    return false;
  }
  // A sticky folder (/tmp) lets others add entries but not remove or
  // rename those of its owner's: enough above the state folder, never in it.
  const bool others_write = (mode & kOthersWrite) != 0;
  if (others_write && (scope == TrustScope::Own || (mode & kSticky) == 0)) {
    why = "писать сюда может другая учётная запись";
    return false;
  }
  return true;
}

}  // namespace volok::platform
