#include "app/relaunch.h"

#include <chrono>
#include <exception>
#include <vector>

#include "common/app_paths.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/code_pages.h"
#include "platform/file_system.h"
#include "platform/runtime.h"

namespace volok {

namespace {

// What a relaunch folder may hold; nothing else is ever deleted there.
constexpr const char* kRelaunchNames[] = {"uninstall.exe", "uninstall.xml", kMovedOriginalName, "uninstall.bat"};

// A killed run's folder is stale once it is this old and no process runs
// from it; a younger one may belong to a relaunch still starting its copy.
constexpr std::chrono::minutes kStaleAge{10};

bool IsRelaunchFolderName(const std::string& name) {
  const std::string prefix = kRelaunchFolderPrefix;
  if (name.size() != prefix.size() + 16 || name.rfind(prefix, 0) != 0) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z'))) return false;
  return true;
}

// Links resolved (and, on Windows, 8.3 names made long) where the path
// exists, so two spellings of one folder compare equal.
std::string Canonical(const std::string& path) {
  std::string canonical;
  return platform::FileSystem::Default().CanonicalPath(path, canonical).ok() ? canonical : path;
}

// Copies one file of the relaunch, without the read-only attribute a copy
// from a read-only medium would keep: the batch must be able to delete it.
std::string CopyForRelaunch(const std::string& source, const std::string& target) {
  auto& fs = platform::FileSystem::Default();
  platform::Status copied = fs.CopyFileOver(source, target);
  if (!copied.ok()) return "Не удалось скопировать файл: " + source + ": " + copied.message();
  std::uint32_t attributes = 0;
  if (fs.GetAttributes(target, attributes).ok() && (attributes & platform::FileAttribute::ReadOnly))
    (void)fs.SetAttributes(target, attributes & ~platform::FileAttribute::ReadOnly);
  return {};
}

void RemoveRelaunchFolder(const std::string& folder) {
  auto& fs = platform::FileSystem::Default();
  for (const char* name : kRelaunchNames) (void)fs.RemoveFile(IncludeTrailingDelimiter(folder) + name);
  (void)fs.RemoveEmptyFolder(ExcludeTrailingDelimiter(folder));
}

// The deletion of one file, retried for about ten seconds while the ending
// process still holds it. Unrolled, so the batch needs neither variables nor
// labels; "ping -n 2" to the loopback address waits one second.
std::string DeleteWithRetry(const std::string& path) {
  std::string lines;
  for (int attempt = 0; attempt < 10; ++attempt) {
    lines += "@del /f /q \"" + path + "\" > nul 2> nul\r\n";
    lines += "@if exist \"" + path + "\" ping -n 2 127.0.0.1 > nul\r\n";
  }
  return lines;
}

// Another volume's temporary folder cannot take the running file by a
// rename, the only move a running program allows: it then stays.
void MoveOriginalInto(const std::string& folder, TRelaunch& relaunch) {
  const std::string moved = folder + kMovedOriginalName;
  if (!platform::FileSystem::Default().MoveFileReplace(ExeFileName(), moved).ok()) return;
  relaunch.Original = ExeFileName();
  relaunch.Moved = moved;
}

void MoveOriginalBack(TRelaunch& relaunch) {
  auto& fs = platform::FileSystem::Default();
  if (relaunch.Moved.empty() || fs.FileExists(relaunch.Original)) return;
  if (fs.MoveFileReplace(relaunch.Moved, relaunch.Original).ok()) relaunch.Moved.clear();
}

// The copy ended having uninstalled the program (a restart may be due).
// Natively an exit status keeps 8 bits: 3010 arrives as 194.
bool CopyCompleted(std::uint32_t code) {
  return code == 0 || code == kExitRestartNeeded || code == (kExitRestartNeeded & 0xFF);
}

platform::FileTime Now() {
  using namespace std::chrono;
  // FILETIME counts 100 ns since 1601, 11644473600 s before the Unix epoch.
  auto since_unix = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<platform::FileTime>(since_unix * 10 + 116444736000000000LL);
}

// Some running process's executable lies in `folder`.
bool AnyProcessRunsFrom(const std::string& folder) {
  auto& processes = platform::Processes::Default();
  std::vector<platform::ProcessEntry> entries;
  if (!processes.List(entries).ok()) return true;  // unknown: keep it
  const std::string prefix = LowerCase(IncludeTrailingDelimiter(folder));
  for (const platform::ProcessEntry& entry : entries) {
    std::string name = LowerCase(entry.ExeName);
    if (name != "uninstall.exe" && name != kMovedOriginalName) continue;
    std::unique_ptr<platform::Process> process;
    std::string path;
    if (processes.Open(entry.Id, process).ok() && process->ExecutablePath(path).ok() &&
        LowerCase(path).rfind(prefix, 0) == 0)
      return true;
  }
  return false;
}

}  // namespace

bool IsRelaunchedCopy() {
  return IsRelaunchFolderName(ExtractFileName(ExcludeTrailingDelimiter(ExtractFilePath(ExeFileName()))));
}

bool IsRunningFromTemp() {
  // The copy never relaunches again, whatever the environment now says.
  if (IsRelaunchedCopy()) return true;
  std::string temp = GetTempFolder();
  if (temp.empty()) return false;
  // Only inside the folder or below it: a sibling such as "C:\Temp2" whose
  // name merely starts the same does not count.
  std::string prefix = LowerCase(IncludeTrailingDelimiter(Canonical(temp)));
  return LowerCase(Canonical(ExeFileName())).rfind(prefix, 0) == 0;
}

TRelaunch RelaunchFromTemp(bool silent, const TRelaunchOptions& options) {
  TRelaunch relaunch;
  std::string temp = GetTempFolder();
  if (temp.empty()) {
    relaunch.Failure = "Папка временных файлов не найдена.";
    return relaunch;
  }
  // A fresh private folder of unpredictable name: the copy runs with
  // administrator rights, so no other account may swap or plant anything
  // in it between the copy, its start and the batch at its end.
  std::string folder = MakeFreshFolder(temp, kRelaunchFolderPrefix, true);
  if (folder.empty()) {
    relaunch.Failure = "Не удалось создать папку в папке временных файлов: " + temp + ".";
    return relaunch;
  }
  std::string copy = folder + "uninstall.exe";
  std::string failure = CopyForRelaunch(ExeFileName(), copy);
  if (failure.empty()) failure = CopyForRelaunch(ChangeFileExt(ExeFileName(), ".xml"), folder + "uninstall.xml");
  // Out of the install folder before the copy starts deleting it: a
  // running program may be renamed, never deleted.
  if (failure.empty() && options.MoveOriginal) MoveOriginalInto(folder, relaunch);
  if (failure.empty()) {
    std::string command_line = "\"" + copy + "\"" + (silent ? " silent" : "") + options.Arguments;
    platform::Status started = platform::Processes::Default().Start(command_line, folder, relaunch.Process);
    if (!started.ok()) failure = "Не удалось запустить программу: " + copy + ". " + started.message();
  }
  if (failure.empty()) {
    relaunch.Copy = copy;
    return relaunch;
  }
  MoveOriginalBack(relaunch);
  relaunch.Process.reset();
  relaunch.Original.clear();
  relaunch.Moved.clear();
  RemoveRelaunchFolder(folder);
  relaunch.Failure = failure;
  return relaunch;
}

int WaitForRelaunch(TRelaunch& relaunch, const std::function<void()>& recover) {
  if (!relaunch.Process) return kExitFatal;
  std::uint32_t code = kExitFatal;
  if (!relaunch.Process->Wait(platform::kInfiniteWait) || !relaunch.Process->ExitCode(code).ok()) code = kExitFatal;
  if (CopyCompleted(code)) return static_cast<int>(code);
  MoveOriginalBack(relaunch);
  if (!relaunch.Moved.empty() && recover) {
    // This executable now lies in the relaunch folder, as the copy did: the
    // recovery's guard judges the install folder as the copy's did, not as
    // this engine's own folder (which it would refuse to touch).
    const std::string installed = ExeFileName();
    SetExeFileName(relaunch.Moved);
    try {
      recover();
    } catch (const std::exception&) {
      // The next start recovers; the original waits in its folder until then.
    }
    SetExeFileName(installed);
    MoveOriginalBack(relaunch);
  }
  return static_cast<int>(code);
}

void WriteSelfDeleteBatch(bool remove_original) {
  if (!IsRelaunchedCopy()) return;
  std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(ExeFileName()));
  // The batch lies in the private relaunch folder, where no other account
  // can have put a file of that name first. It runs from the folder's
  // parent and names everything relative to it: the lines then hold only
  // ASCII, whatever letters, blanks, "%", "^" or "&" the temporary folder's
  // path has, and cmd reads them right in any code page. The folder itself
  // goes once the batch has ended.
  std::string name = ExtractFileName(folder) + "\\";
  std::string batch = ChangeFileExt(ExeFileName(), ".bat");
  std::string text = DeleteWithRetry(name + ExtractFileName(ExeFileName()));
  text += "@del /f /q \"" + name + ExtractFileName(ChangeFileExt(ExeFileName(), ".xml")) + "\" > nul 2> nul\r\n";
  if (remove_original) text += DeleteWithRetry(name + kMovedOriginalName);
  try {
    std::string bytes = EncodeText(text, platform::CodePages::Default().ActiveAnsiCodePage());
    std::unique_ptr<platform::File> file;
    auto& fs = platform::FileSystem::Default();
    // A batch already there is a copy's that was killed while it wrote it:
    // only this run's accounts can write in the private folder (one that
    // could would have replaced the executable itself). It goes, as itself,
    // never followed; then a new file or none: a name that is still there
    // is never written through, and then nothing is started.
    (void)fs.RemoveEntry(batch);
    if (!fs.OpenFile(batch, platform::FileAccess::CreateNew, platform::FileShare::None, file).ok()) return;
    if (!file->Write(bytes.data(), bytes.size()).ok()) return;
  } catch (...) {
    return;  // nothing is started without its batch
  }
  (void)platform::StartFolderBatch(batch);
}

void RemoveStaleRelaunchFolders() {
  std::string temp = GetTempFolder();
  if (temp.empty()) return;
  auto& fs = platform::FileSystem::Default();
  std::vector<platform::FileEntry> entries;
  if (!fs.ListFolder(temp, entries).ok()) return;
  const std::string own = LowerCase(ExcludeTrailingDelimiter(ExtractFilePath(ExeFileName())));
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  const auto stale_before = Now() - static_cast<platform::FileTime>(
                                        std::chrono::duration_cast<std::chrono::microseconds>(kStaleAge).count() * 10);
  for (const platform::FileEntry& entry : entries) {
    if (!entry.IsFolder || entry.IsLink || (entry.Attributes & kReparsePoint) || !IsRelaunchFolderName(entry.Name))
      continue;
    const std::string folder = IncludeTrailingDelimiter(temp) + entry.Name;
    if (LowerCase(folder) == own || entry.LastWriteTime > stale_before || AnyProcessRunsFrom(folder)) continue;
    RemoveRelaunchFolder(folder);
    // Earlier versions wrote their batch beside the folder.
    (void)fs.RemoveFile(folder + ".bat");
  }
}

}  // namespace volok
