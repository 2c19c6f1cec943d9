// The package builder: turns a build description ("installer.xml") into a
// package folder holding the payload, the encrypted "setup.xml" and the
// engine as "setup.exe". Driven by the wizard's "Создать" button and by the
// headless build; runs on the calling thread and reports only through OnLog.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/install_scope.h"
#include "builder/package_signer.h"
#include "model/command_tables.h"

namespace volok {

namespace platform {
class XmlNode;
}
struct TPackageManifest;

// A log line and its message type: 0 done (green), 1 error (red), 4 trace
// (blue).
using TBuildLogEvent = std::function<void(const std::string& text, int message_type)>;

// One warning of a build, for people (the log line) and for tools (the
// JSON report).
struct TBuildWarning {
  std::string List;          // "Install", "UnInstall", or "" for the description itself
  std::size_t Position = 0;  // the entry's position in its list, from 1; 0 for the description
  std::string Name, Action;  // the entry's, as written
  int Line = 0;              // the entry's line in the build description, 0 when unknown
  std::string Text;          // what is wrong, without the entry
  bool Dropped = false;      // the entry was left out of the package
};

// Optional settings of the description's "Winget" element (removed from
// the package's description): what a winget manifest needs and the
// description does not otherwise say. Empty when not given.
struct TWingetFields {
  std::string PackageIdentifier, InstallerUrl, License, ShortDescription, PackageLocale;
};

// The FILETIME count SOURCE_DATE_EPOCH names, or 0 when it is unset or not
// a number: then items keep their files' times.
std::uint64_t SourceDateFileTime();

class TPackageBuilder final {
 public:
  // Registers the four build actions in FUpdateActions.
  TPackageBuilder();
  TPackageBuilder(const TPackageBuilder&) = delete;
  TPackageBuilder& operator=(const TPackageBuilder&) = delete;

  TBuildLogEvent OnLog;

  // The executable copied into the package as "setup.exe"; the running one
  // (ExeFileName) unless set, so a Linux host can ship the Windows engine.
  void SetEngineFile(const std::string& path) { FEngineFile = path; }
  // Signs the package's "setup.exe" once it is copied; a signing failure
  // fails the build and removes the package folder, so no unsigned package
  // is left where a signed one was asked for.
  void SetSigning(TSignOptions options) { FSigning = std::move(options); }

  // Builds the package of `FileName` into a fresh folder named after its
  // version inside `OutputFolder`. Never throws; every outcome is logged.
  // True when the package was created, even with entries left out.
  bool MakeInstall(const std::string& FileName, const std::string& OutputFolder);

  const TInstallActions& UpdateActions() const { return FUpdateActions; }
  // Of the last MakeInstall: the warnings logged, and the entries among them
  // that were left out of the package.
  int Warnings() const { return FWarnings; }
  int DroppedEntries() const { return FDroppedEntries; }
  const std::vector<TBuildWarning>& WarningList() const { return FWarningList; }
  // The package folder of the last build that created one (with a trailing
  // delimiter), else "".
  const std::string& PackageFolder() const { return FBuiltFolder; }
  // The single-file package of the last build that created one (inside
  // PackageFolder), else "".
  const std::string& SingleFile() const { return FSingleFile; }
  const TWingetFields& WingetFields() const { return FWinget; }
  // Why the last build failed, "" when it created its package.
  const std::string& LastError() const { return FLastError; }
  // Counts and logs a warning that concerns the package as a whole (the
  // headless build adds those of its manifests).
  void WarnPackage(const std::string& text);

  // The build actions, with TInstallActionProc's signature: each makes the
  // payload `outfn` from the source `fn` and reports the size and CRC-32 to
  // record (0 means the installer does not verify it). Failures throw Error.
  // During a build, an action that writes a file refuses an `outfn` that is
  // not a plain relative path inside the package folder, or that names the
  // package's "setup.exe" or "setup.xml", before it reads anything, and
  // makes the subfolders a relative path names.
  void CopyFile(const std::string& fn, const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32);
  void CopyFileNoCRC(const std::string& fn, const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32);
  void ZipFolder(const std::string& fn, const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32);
  void FileCommand(const std::string& fn, const std::string& outfn, std::uint32_t& fsz, std::uint32_t& crc32);

 private:
  void Log(const std::string& text, int message_type) const;
  void Build(const std::string& FileName, const std::string& OutputFolder);
  std::string PreparePackageFolder(const std::string& OutputFolder, const std::string& version);
  // Builds every entry from the last to the first, counting the warnings.
  void BuildEntries(const std::vector<std::unique_ptr<platform::XmlNode>>& entries, const std::string& folder);
  // The UnInstall list is not built, but checked as the install entries
  // are: an entry the installer could not read is left out with a warning.
  void CheckUnInstallEntries(platform::XmlNode& root);
  // Warns about an entry's unknown action (which `runner`, the installer or
  // the uninstaller, skips) and unknown placeholders in its paths.
  void CheckEntryWords(platform::XmlNode& entry, const TBuildWarning& ref, const std::string& described,
                       const std::string& runner);
  // Warns about unknown placeholders in the payload of a CopyText or
  // ProcessText entry, whose text the installer processes.
  void CheckTextPayload(const TBuildWarning& entry, const std::string& described, const std::string& path);
  // Counts, records and logs a warning; `described` (the entry, for people)
  // follows the text in the log only.
  void Warn(TBuildWarning warning, const std::string& text, const std::string& described = "", bool dropped = false);
  void ReadWingetFields(platform::XmlNode& root);
  // Reads Scope, failing the build at once for a value no run accepts.
  void ReadScope(platform::XmlNode& root);
  // For a description that may install per user: warns about an entry
  // that such a run refuses (a machine folder, a registry root other than
  // HKEY_CURRENT_USER).
  void CheckPerUserEntry(platform::XmlNode& entry, const TBuildWarning& ref, const std::string& described);
  // Learns the variable names the description can use and warns about
  // unknown ones in its install folder.
  void WarnUnknownPlaceholders(platform::XmlNode& root);
  void BuildEntry(platform::XmlNode& entry, const std::string& folder);
  void CheckPayloadTarget(const std::string& outfn) const;
  // The manifest of "setup.xml" and every payload file the build wrote.
  TPackageManifest PackageManifest(const std::string& folder) const;
  // Copies the engine as "setup.exe", seals `manifest` into it, and signs it
  // when asked.
  void CopyEngine(const std::string& folder, const std::string& manifest);
  // Writes the single-file package `name` into `folder` (single_file.h):
  // the engine signed on its own goes in as the uninstaller, and the file
  // is signed as a whole when asked.
  void MakeSingleFile(const std::string& folder, const std::string& name);

  TInstallActions FUpdateActions;
  TInstallScope FScope = TInstallScope::Machine;
  std::string FEngineFile;
  TSignOptions FSigning;
  std::string FPackageFolder;  // the folder being built, "" between builds
  std::vector<std::string> FKnownNames;
  std::vector<std::string> FPayloads;  // package paths the entries wrote
  int FWarnings = 0;
  int FDroppedEntries = 0;
  std::vector<TBuildWarning> FWarningList;
  std::vector<int> FInstallLines, FUnInstallLines;  // EntryLines of the description's file
  std::string FBuiltFolder;
  std::string FSingleFile;
  std::string FLastError;
  TWingetFields FWinget;
};

}  // namespace volok
