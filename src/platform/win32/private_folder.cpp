#include <windows.h>
#include <sddl.h>

#include "platform/private_folder.h"
#include "platform/security.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

// 0 when the folder was made with the descriptor `sddl`, else the error.
DWORD CreateWithDescriptor(const std::wstring& path, const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(win32::Widen(sddl).c_str(), SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return GetLastError();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  DWORD error = CreateDirectoryW(path.c_str(), &attributes) ? 0 : GetLastError();
  LocalFree(descriptor);
  return error;
}

}  // namespace

Status MakePrivateFolder(const std::string& path) {
  const std::string sid = Security::Default().CurrentUserSid();
  const std::wstring wide = win32::Widen(path);
  // CreateDirectoryW fails for any existing name, a reparse point included.
  DWORD error = CreateWithDescriptor(wide, PrivateFolderSddl(sid));
  // Only an elevated token may make Administrators the owner.
  if (error == ERROR_INVALID_OWNER) error = CreateWithDescriptor(wide, PrivateFolderSddlOwnedByUser(sid));
  return error ? Status::Failure(win32::WindowsErrorMessage(error, path)) : Status::Ok();
}

}  // namespace volok::platform
