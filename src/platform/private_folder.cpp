#include "platform/private_folder.h"

namespace volok::platform {

namespace {

std::string Dacl(const std::string& user_sid) {
  // "P": protected, so no entry of the parent (a temporary folder where
  // Users may create) is inherited; OICI: files and folders inside get the
  // same entries.
  std::string dacl = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  if (!user_sid.empty() && user_sid != "S-1-5-18" && user_sid != "S-1-5-32-544") dacl += "(A;OICI;FA;;;" + user_sid + ")";
  return dacl;
}

}  // namespace

std::string PrivateFolderSddl(const std::string& user_sid) { return "O:BA" + Dacl(user_sid); }

std::string PrivateFolderSddlOwnedByUser(const std::string& user_sid) { return Dacl(user_sid); }

}  // namespace volok::platform
