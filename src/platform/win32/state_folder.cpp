// The state folder on Windows: created with an explicit protected
// descriptor, every folder and file judged by the descriptor of the handle
// it was opened by (reparse points not followed), never by its path.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <random>

#include "platform/security.h"
#include "platform/state_folder.h"
#include "platform/win32/handle.h"
#include "platform/win32/security_descriptor.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::Narrow;
using win32::ScopedHandle;
using win32::Widen;
using win32::WindowsErrorMessage;

constexpr wchar_t kProtectedSddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// The same without an owner, for a token that may not name Administrators
// as owner (a per-user run without rights): it then gets the token's
// default owner, and the running account, trusted as that owner, keeps
// full control of what it made in its own state folder.
constexpr wchar_t kProtectedDaclNoOwner[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr int kMaxRaces = 4;

constexpr char kSystem[] = "S-1-5-18", kAdministrators[] = "S-1-5-32-544",
               kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
               kOwnerRights[] = "S-1-3-4", kCreatorOwner[] = "S-1-3-0", kCreatorGroup[] = "S-1-3-1";

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalDescriptor = std::unique_ptr<void, LocalFreer>;

LocalDescriptor FromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return LocalDescriptor(descriptor);
}

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return {};
  std::string narrow = Narrow(text);
  LocalFree(text);
  return narrow;
}

bool TrustedSid(const std::string& sid, const std::string& user_sid) {
  return sid == kSystem || sid == kAdministrators || sid == kTrustedInstaller || (!user_sid.empty() && sid == user_sid);
}

// What a grantee other than the trusted ones may not hold.
ACCESS_MASK Forbidden(TrustScope scope) {
  const ACCESS_MASK takeover = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
  if (scope == TrustScope::Above) return takeover;
  return takeover | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | GENERIC_WRITE;
}

bool JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, const std::string& user_sid, TrustScope scope,
                     std::string& why) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner) {
    why = "у неё нет владельца";
    return false;
  }
  const std::string owner_sid = SidText(owner);
  if (!TrustedSid(owner_sid, user_sid)) {
    why = "владелец — другая учётная запись (" + owner_sid + ")";
    return false;
  }
  BOOL present = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl) {
    why = "у неё нет списка доступа: писать может кто угодно";
    return false;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // applies to what is made below, not to this
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
        header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE || header->AceType > ACCESS_MAX_MS_V5_ACE_TYPE ||
        header->AceType == SYSTEM_AUDIT_ACE_TYPE || header->AceType == SYSTEM_ALARM_ACE_TYPE)
      continue;  // a denial only takes away
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      why = "в её списке доступа есть разрешение, которое не проверить";
      return false;
    }
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    const std::string grantee = SidText(const_cast<DWORD*>(&allowed->SidStart));
    if (TrustedSid(grantee, user_sid) || grantee == kOwnerRights || grantee == kCreatorOwner ||
        grantee == kCreatorGroup)
      continue;  // the owner is trusted; the creator entries act only when inherited
    if (allowed->Mask & Forbidden(scope)) {
      why = "писать сюда может другая учётная запись (" + grantee + ")";
      return false;
    }
  }
  return true;
}

std::string RunningUserSid() { return Security::BuiltIn().CurrentUserSid(); }

std::wstring ProtectedSddlNoOwner() {
  const std::string user = RunningUserSid();
  return std::wstring(kProtectedDaclNoOwner) + (user.empty() ? L"" : L"(A;OICI;FA;;;" + Widen(user) + L")");
}

bool JudgeHandle(HANDLE handle, TrustScope scope, bool want_folder, std::string& why) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    why = WindowsErrorMessage(GetLastError());
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    why = "это ссылка (точка повторной обработки)";
    return false;
  }
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder != want_folder) {
    why = want_folder ? "это не папка" : "это не обычный файл";
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    why = WindowsErrorMessage(error);
    return false;
  }
  LocalDescriptor owned(descriptor);
  return JudgeDescriptor(descriptor, RunningUserSid(), scope, why);
}

ScopedHandle OpenEntry(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, bool folder,
                       SECURITY_ATTRIBUTES* attributes = nullptr) {
  DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL);
  return ScopedHandle(CreateFileW(path.c_str(), access | READ_CONTROL, share, attributes, disposition, flags, nullptr));
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

Status Untrusted(const std::wstring& path, const std::string& why) {
  return Status::Failure("Папке журнала установки нельзя доверять: \"" + Narrow(path) + "\": " + why + ".");
}

std::wstring RandomSuffix() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digit(0, 15);
  std::wstring text;
  for (int i = 0; i < 8; ++i) text += L"0123456789abcdef"[digit(device)];
  return text;
}

Status RenameAside(const std::wstring& path, std::wstring& aside) {
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    aside = path + L".untrusted-" + RandomSuffix();
    // No replace flag: an existing name is never taken over.
    if (MoveFileExW(path.c_str(), aside.c_str(), 0)) return Status::Ok();
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
      return Status::Failure(WindowsErrorMessage(GetLastError(), Narrow(path)));
  }
  return Status::Failure(WindowsErrorMessage(ERROR_ALREADY_EXISTS, Narrow(path)));
}

bool MakeProtectedFolder(const std::wstring& path) {
  for (const std::wstring& sddl : {std::wstring(kProtectedSddl), ProtectedSddlNoOwner()}) {
    LocalDescriptor descriptor = FromSddl(sddl.c_str());
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (CreateDirectoryW(path.c_str(), &attributes)) return true;
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
  }
  return false;
}

// One folder of the engine's own part of the place: made protected when
// missing, set aside or refused when it cannot be trusted.
Status PrepareOwned(const std::wstring& path, bool set_aside, std::vector<std::string>& notes) {
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    ScopedHandle folder = OpenEntry(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, true);
    if (!folder.valid()) {
      DWORD error = GetLastError();
      if (!Missing(error)) return Status::Failure(WindowsErrorMessage(error, Narrow(path)));
      if (!MakeProtectedFolder(path) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Status::Failure(WindowsErrorMessage(GetLastError(), Narrow(path)));
      continue;  // judged on the next turn, whoever made it
    }
    std::string why;
    if (JudgeHandle(folder.get(), TrustScope::Own, true, why)) return Status::Ok();
    folder = ScopedHandle();
    if (!set_aside) return Untrusted(path, why);
    std::wstring aside;
    if (Status moved = RenameAside(path, aside); !moved.ok()) return Untrusted(path, why + "; " + moved.message());
    notes.push_back("Чужая папка на месте папки журнала установки (" + why + "): \"" + Narrow(path) +
                    "\" переименована в \"" + Narrow(aside) + "\".");
  }
  return Status::Failure(WindowsErrorMessage(ERROR_ALREADY_EXISTS, Narrow(path)));
}

std::wstring FullPath(const std::string& path) {
  std::wstring wide = Widen(path);
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(size);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

// The folders from the root down to `full`: "C:\", "C:\ProgramData", …
std::vector<std::wstring> Chain(const std::wstring& full) {
  std::vector<std::wstring> chain;
  std::size_t start = full.rfind(L"\\\\", 0) == 0 ? full.find(L'\\', full.find(L'\\', 2) + 1) : 2;
  if (start == std::wstring::npos) return {full};
  chain.push_back(full.substr(0, start) + L"\\");
  for (std::size_t at = start + 1; at <= full.size(); ++at)
    if (at == full.size() || full[at] == L'\\') {
      if (at > start + 1) chain.push_back(full.substr(0, at));
      start = at;
    }
  return chain;
}

class LockHandle final : public HeldLock {
 public:
  explicit LockHandle(ScopedHandle handle) : FHandle(std::move(handle)) {}

 private:
  ScopedHandle FHandle;
};

}  // namespace

Status PrepareStateFolder(const StatePlace& place, std::vector<std::string>& notes) {
  const std::wstring base = FullPath(place.Base);
  for (const std::wstring& folder : Chain(base)) {
    ScopedHandle handle(CreateFileW(folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid() && Missing(GetLastError())) {
      if (Status made = PrepareOwned(folder, false, notes); !made.ok()) return made;
      continue;
    }
    if (!handle.valid()) return Status::Failure(WindowsErrorMessage(GetLastError(), Narrow(folder)));
    // Links above the place are followed (a system may keep ProgramData
    // elsewhere); what they reach is judged.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return Untrusted(folder, WindowsErrorMessage(error));
    LocalDescriptor owned(descriptor);
    std::string why;
    if (!JudgeDescriptor(descriptor, RunningUserSid(), TrustScope::Above, why)) return Untrusted(folder, why);
  }
  std::wstring path = base;
  for (const std::string& name : place.Names) {
    path += L"\\" + Widen(name);
    if (Status owned = PrepareOwned(path, place.SetAside, notes); !owned.ok()) return owned;
  }
  return Status::Ok();
}

Status LockStateFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) {
  busy = false;
  LocalDescriptor descriptor = FromSddl(ProtectedSddlNoOwner().c_str());
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  ScopedHandle handle = OpenEntry(FullPath(path), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, false, &attributes);
  if (!handle.valid()) {
    DWORD error = GetLastError();
    busy = error == ERROR_SHARING_VIOLATION;
    return Status::Failure(WindowsErrorMessage(error, path));
  }
  std::string why;
  if (!JudgeHandle(handle.get(), TrustScope::Own, false, why)) return Untrusted(FullPath(path), why);
  lock = std::make_unique<LockHandle>(std::move(handle));
  return Status::Ok();
}

StateRead ReadStateFile(const std::string& path, std::string& bytes, std::string& why) {
  bytes.clear();
  ScopedHandle handle = OpenEntry(FullPath(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, false);
  if (!handle.valid()) {
    DWORD error = GetLastError();
    if (Missing(error)) return StateRead::Missing;
    why = WindowsErrorMessage(error, path);
    return StateRead::Failed;
  }
  if (!JudgeHandle(handle.get(), TrustScope::Own, false, why)) return StateRead::Untrusted;
  char buffer[65536];
  for (;;) {
    DWORD done = 0;
    if (!ReadFile(handle.get(), buffer, sizeof buffer, &done, nullptr)) {
      why = WindowsErrorMessage(GetLastError(), path);
      return StateRead::Failed;
    }
    if (done == 0) return StateRead::Read;
    bytes.append(buffer, done);
  }
}

Status SetStateEntryAside(const std::string& path, std::string& aside) {
  std::wstring moved;
  Status status = RenameAside(FullPath(path), moved);
  aside = Narrow(moved);
  return status;
}

namespace win32 {

std::string ProtectedDescriptorSddl() {
  LocalDescriptor descriptor = FromSddl(kProtectedSddl);
  wchar_t* text = nullptr;
  if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                         descriptor.get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                         &text, nullptr))
    return {};
  std::string narrow = Narrow(text);
  LocalFree(text);
  return narrow;
}

bool TrustedDescriptorSddl(const std::string& sddl, const std::string& user_sid, TrustScope scope, std::string& why) {
  LocalDescriptor descriptor = FromSddl(Widen(sddl).c_str());
  if (!descriptor) {
    why = "это не описание безопасности: " + sddl;
    return false;
  }
  return JudgeDescriptor(descriptor.get(), user_sid, scope, why);
}

}  // namespace win32

}  // namespace volok::platform
