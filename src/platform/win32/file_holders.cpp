// Programs that hold files, through the Restart Manager. rstrtmgr.dll is no
// Known DLL, so a static import would be looked up beside the engine first,
// where a user may have put a DLL of that name: it is loaded at run time from
// the system folder only.
#include <windows.h>
#include <restartmanager.h>
#include <tlhelp32.h>

#include <set>
#include <vector>

#include "platform/file_holders.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::Narrow;
using win32::ScopedFind;
using win32::ScopedHandle;
using win32::Widen;
using win32::WindowsErrorMessage;

// RmRegisterResources takes the names in batches: one call for a folder of
// tens of thousands of files would hold them all in one argument array.
constexpr std::size_t kBatch = 1000;

using StartSessionCall = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR[]);
using EndSessionCall = DWORD(WINAPI*)(DWORD);
using RegisterCall = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT, LPCWSTR[]);
using GetListCall = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO[], LPDWORD);
using ShutdownCall = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
using RestartCall = DWORD(WINAPI*)(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK);

// The library's entry points, loaded once for the process.
struct RestartManager {
  HMODULE Module = nullptr;
  StartSessionCall StartSession = nullptr;
  EndSessionCall EndSession = nullptr;
  RegisterCall Register = nullptr;
  GetListCall GetList = nullptr;
  ShutdownCall Shutdown = nullptr;
  RestartCall Restart = nullptr;
  DWORD LoadError = 0;

  template <typename T>
  bool Bind(T& call, const char* name) {
    call = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    return call != nullptr;
  }

  static const RestartManager& Instance() {
    static const RestartManager loaded = Load();
    return loaded;
  }

  static RestartManager Load() {
    RestartManager rm;
    rm.Module = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!rm.Module) {
      rm.LoadError = GetLastError();
      return rm;
    }
    if (!rm.Bind(rm.StartSession, "RmStartSession") || !rm.Bind(rm.EndSession, "RmEndSession") ||
        !rm.Bind(rm.Register, "RmRegisterResources") || !rm.Bind(rm.GetList, "RmGetList") ||
        !rm.Bind(rm.Shutdown, "RmShutdown") || !rm.Bind(rm.Restart, "RmRestart")) {
      rm.LoadError = GetLastError();
      rm.StartSession = nullptr;
    }
    return rm;
  }
};

Status RmFailure(DWORD error, const char* call) {
  return Status::Failure(std::string(call) + ": " + WindowsErrorMessage(error));
}

// The long form reaches files past MAX_PATH; the Restart Manager is given
// the plain form where it fits, which every version of it understands.
std::wstring Prefixed(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

std::wstring Registered(const std::wstring& path) {
  return path.size() < MAX_PATH ? path : Prefixed(path);
}

// Every file below `folder`; a link or junction is itself a name, never a
// way into another tree.
void CollectFiles(const std::wstring& folder, std::vector<std::wstring>& files) {
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW((Prefixed(folder) + L"\\*").c_str(), &data));
  if (!find.valid()) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    bool descend = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (descend)
      CollectFiles(path, files);
    else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      files.push_back(path);
  } while (FindNextFileW(find.get(), &data));
}

// This process and the ones that started it.
std::set<DWORD> OwnLine() {
  std::set<DWORD> line{GetCurrentProcessId()};
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return line;
  std::vector<PROCESSENTRY32W> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    entries.push_back(entry);
  for (DWORD pid = GetCurrentProcessId();;) {
    DWORD parent = 0;
    for (const PROCESSENTRY32W& known : entries)
      if (known.th32ProcessID == pid) parent = known.th32ParentProcessID;
    if (parent == 0 || !line.insert(parent).second) break;
    pid = parent;
  }
  return line;
}

class RmSession final : public HolderSession {
 public:
  RmSession(const RestartManager& rm, DWORD handle) : FRm(rm), FHandle(handle) {}
  ~RmSession() override { FRm.EndSession(FHandle); }
  RmSession(const RmSession&) = delete;
  RmSession& operator=(const RmSession&) = delete;

  Status Register(const std::vector<std::wstring>& files) {
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
      std::vector<std::wstring> names;
      std::vector<LPCWSTR> pointers;
      for (std::size_t i = first; i < files.size() && i < first + kBatch; ++i) names.push_back(Registered(files[i]));
      for (const std::wstring& name : names) pointers.push_back(name.c_str());
      DWORD error = FRm.Register(FHandle, static_cast<UINT>(pointers.size()), pointers.data(), 0, nullptr, 0, nullptr);
      if (error != ERROR_SUCCESS) return RmFailure(error, "RmRegisterResources");
    }
    return Status::Ok();
  }

  Status Holders(std::vector<FileHolder>& holders) override {
    holders.clear();
    std::vector<RM_PROCESS_INFO> infos;
    if (Status listed = List(infos); !listed.ok()) return listed;
    const std::set<DWORD> own = OwnLine();
    for (const RM_PROCESS_INFO& info : infos) {
      DWORD pid = info.Process.dwProcessId;
      if (pid == GetCurrentProcessId()) continue;
      FileHolder holder;
      holder.Id = pid;
      holder.Name = Narrow(info.strAppName);
      if (holder.Name.empty()) holder.Name = "#" + std::to_string(pid);
      holder.Caller = own.count(pid) > 0;
      holder.CanClose = info.ApplicationType != RmCritical && !holder.Caller;
      holders.push_back(holder);
    }
    return Status::Ok();
  }

  // Asked first, then forced: a silent run with /closeapplications must not
  // hang on a program that ignores the request.
  Status Close() override {
    DWORD error = FRm.Shutdown(FHandle, 0, nullptr);
    FShutDown = true;
    if (error != ERROR_SUCCESS) error = FRm.Shutdown(FHandle, RmForceShutdown, nullptr);
    if (error == ERROR_SUCCESS) return Status::Ok();
    std::vector<FileHolder> left;
    std::string names;
    if (Holders(left).ok())
      for (const FileHolder& holder : left)
        names += (names.empty() ? "" : ", ") + holder.Name + " (" + std::to_string(holder.Id) + ")";
    return Status::Failure(names.empty() ? RmFailure(error, "RmShutdown").message() : names);
  }

  Status Restart() override {
    if (!FShutDown) return Status::Ok();
    FShutDown = false;
    DWORD error = FRm.Restart(FHandle, 0, nullptr);
    return error == ERROR_SUCCESS ? Status::Ok() : RmFailure(error, "RmRestart");
  }

 private:
  Status List(std::vector<RM_PROCESS_INFO>& infos) {
    // The list may grow between the two calls: ask again until it fits.
    for (int attempt = 0; attempt < 8; ++attempt) {
      UINT needed = 0, count = static_cast<UINT>(infos.size());
      DWORD reasons = 0;
      DWORD error = FRm.GetList(FHandle, &needed, &count, infos.empty() ? nullptr : infos.data(), &reasons);
      if (error == ERROR_SUCCESS) {
        infos.resize(count);
        return Status::Ok();
      }
      if (error != ERROR_MORE_DATA) return RmFailure(error, "RmGetList");
      infos.resize(needed + 4);
    }
    return RmFailure(ERROR_MORE_DATA, "RmGetList");
  }

  const RestartManager& FRm;
  DWORD FHandle;
  bool FShutDown = false;
};

class RmFileHolders final : public FileHolders {
 public:
  Status Open(const std::string& folder, std::unique_ptr<HolderSession>& session) override {
    const RestartManager& rm = RestartManager::Instance();
    if (!rm.StartSession) return Status::Failure("rstrtmgr.dll: " + WindowsErrorMessage(rm.LoadError));
    std::wstring path = Widen(folder);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    DWORD error = rm.StartSession(&handle, 0, key);
    if (error != ERROR_SUCCESS) return RmFailure(error, "RmStartSession");
    auto opened = std::make_unique<RmSession>(rm, handle);
    std::vector<std::wstring> files;
    CollectFiles(path, files);
    if (Status registered = opened->Register(files); !registered.ok()) return registered;
    session = std::move(opened);
    return Status::Ok();
  }
};

}  // namespace

FileHolders& FileHolders::BuiltIn() {
  static RmFileHolders instance;
  return instance;
}

}  // namespace volok::platform
