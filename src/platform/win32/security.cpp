#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "platform/security.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

struct ServiceHandleCloser {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};

ScopedHandle OpenQueryToken() {
  HANDLE token = nullptr;
  // A thread that impersonates has a token of its own; otherwise the
  // process's token is the user's.
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return ScopedHandle(token);
  if (GetLastError() == ERROR_NO_TOKEN && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return ScopedHandle(token);
  return nullptr;
}

class Win32Security final : public Security {
 public:
  std::string CurrentUserSid() override {
    ScopedHandle token = OpenQueryToken();
    if (!token) return {};
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return {};
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]());
    if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid;
    if (!IsValidSid(sid)) return {};
    const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
    std::vector<std::uint32_t> subs;
    for (UCHAR i = 0; i < *GetSidSubAuthorityCount(sid); ++i) subs.push_back(*GetSidSubAuthority(sid, i));
    return FormatSid(SID_REVISION, authority->Value, subs);
  }

  bool IsAdministrator() override {
    std::unique_ptr<SC_HANDLE__, ServiceHandleCloser> manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return manager != nullptr;
  }

  Status RunElevated(const std::string& program, const std::string& parameters, std::uint32_t& exit_code) override {
    const std::wstring file = win32::Widen(program), arguments = win32::Widen(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process handle to wait for; no window of ours to own the prompt.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return Status::Failure(win32::WindowsErrorMessage(GetLastError(), program));
    if (!info.hProcess) return Status::Failure(win32::WindowsErrorMessage(ERROR_INVALID_HANDLE, program));
    ScopedHandle process(info.hProcess);
    DWORD code = 0;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &code))
      return Status::Failure(win32::WindowsErrorMessage(GetLastError(), program));
    exit_code = code;
    return Status::Ok();
  }
};

}  // namespace

Security& Security::BuiltIn() {
  static Win32Security instance;
  return instance;
}

}  // namespace volok::platform
