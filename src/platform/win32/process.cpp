#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "platform/process.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::ScopedHandle;
using win32::WindowsErrorMessage;

// The access the terminate routine needs: wait, query, read the module
// list, end.
constexpr DWORD kOpenAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;

class Win32Process final : public Process {
 public:
  explicit Win32Process(ScopedHandle handle) : FHandle(std::move(handle)) {}

  Status Terminate() override {
    if (!TerminateProcess(FHandle.get(), 0)) return Status::Failure(WindowsErrorMessage(GetLastError()));
    return Status::Ok();
  }

  bool Wait(std::uint32_t timeout_ms) override { return WaitForSingleObject(FHandle.get(), timeout_ms) == WAIT_OBJECT_0; }

  Status ExitCode(std::uint32_t& code) override {
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(FHandle.get(), &exit_code)) return Status::Failure(WindowsErrorMessage(GetLastError()));
    if (exit_code == STILL_ACTIVE && !Wait(0)) return Status::Failure("Процесс не завершён.");
    code = exit_code;
    return Status::Ok();
  }

  Status ExecutablePath(std::string& path) override {
    std::vector<wchar_t> buffer(1024);
    DWORD length = GetModuleFileNameExW(FHandle.get(), nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Status::Failure(WindowsErrorMessage(GetLastError()));
    path = win32::Narrow(std::wstring_view(buffer.data(), length));
    return Status::Ok();
  }

  HANDLE handle() const { return FHandle.get(); }

 private:
  ScopedHandle FHandle;
};

// `output`, when valid, is an inheritable handle that becomes the child's
// standard output and error; only then are handles inherited.
Status CreateProcessFor(const std::string& command_line, const std::string& working_folder,
                        PROCESS_INFORMATION& info, HANDLE output = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
  }
  info = PROCESS_INFORMATION{};
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring line = win32::Widen(command_line);
  std::vector<wchar_t> writable(line.begin(), line.end());
  writable.push_back(L'\0');
  std::wstring folder = win32::Widen(working_folder);
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, output ? TRUE : FALSE, output ? CREATE_NO_WINDOW : 0,
                      nullptr, folder.c_str(), &startup, &info))
    return Status::Failure(WindowsErrorMessage(GetLastError(), command_line));
  return Status::Ok();
}

class Win32Processes final : public Processes {
 public:
  Status Start(const std::string& command_line, const std::string& working_folder,
               std::unique_ptr<Process>& process) override {
    PROCESS_INFORMATION info;
    Status status = CreateProcessFor(command_line, working_folder, info);
    if (!status.ok()) return status;
    ScopedHandle thread(info.hThread);
    process = std::make_unique<Win32Process>(ScopedHandle(info.hProcess));
    return Status::Ok();
  }

  Status StartWithOutput(const std::string& command_line, const std::string& working_folder,
                         const std::string& output_file, std::unique_ptr<Process>& process) override {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ScopedHandle output(CreateFileW(win32::Widen(output_file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.valid()) return Status::Failure(WindowsErrorMessage(GetLastError(), output_file));
    PROCESS_INFORMATION info;
    Status status = CreateProcessFor(command_line, working_folder, info, output.get());
    if (!status.ok()) return status;
    ScopedHandle thread(info.hThread);
    process = std::make_unique<Win32Process>(ScopedHandle(info.hProcess));
    return Status::Ok();
  }

  Status Launch(const std::string& command_line, const std::string& working_folder) override {
    PROCESS_INFORMATION info;
    Status status = CreateProcessFor(command_line, working_folder, info);
    if (!status.ok()) return status;
    ScopedHandle thread(info.hThread), process(info.hProcess);
    return Status::Ok();
  }

  Status List(std::vector<ProcessEntry>& entries) override {
    entries.clear();
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return Status::Failure(WindowsErrorMessage(GetLastError()));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // An error during the walk ends it quietly with what was found so far.
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
      entries.push_back({entry.th32ProcessID, win32::Narrow(entry.szExeFile)});
    return Status::Ok();
  }

  Status Open(std::uint32_t id, std::unique_ptr<Process>& process) override {
    ScopedHandle handle(OpenProcess(kOpenAccess, FALSE, id));
    if (!handle.valid()) return Status::Failure(WindowsErrorMessage(GetLastError()));
    process = std::make_unique<Win32Process>(std::move(handle));
    return Status::Ok();
  }

  bool WaitAll(const std::vector<Process*>& processes, std::uint32_t timeout_ms) override {
    ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (std::size_t first = 0; first < processes.size(); first += MAXIMUM_WAIT_OBJECTS) {
      std::size_t count = std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, processes.size() - first);
      std::vector<HANDLE> handles;
      for (std::size_t i = first; i < first + count; ++i) {
        auto* process = dynamic_cast<Win32Process*>(processes[i]);
        if (!process) return false;
        handles.push_back(process->handle());
      }
      DWORD left = timeout_ms;
      if (timeout_ms != INFINITE) {
        ULONGLONG now = GetTickCount64();
        left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      }
      DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles.data(), TRUE, left);
      if (result >= WAIT_OBJECT_0 + count) return false;
    }
    return true;
  }
};

}  // namespace

Processes& Processes::BuiltIn() {
  static Win32Processes instance;
  return instance;
}

}  // namespace volok::platform
