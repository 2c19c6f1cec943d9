#include "engine/installer_thread.h"

#include "common/app_paths.h"
#include "common/manifest_record.h"
#include "common/crypt.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/log_writer.h"
#include "common/main_thread.h"
#include "common/system_info.h"
#include "common/text.h"
#include "common/text_file.h"
#include "platform/runtime.h"

namespace volok {

TInstallerThread::TInstallerThread(TScopeSwitch requested) {
  FWin64 = platform::IsWin64();
  FInstallActions.Arch = FWin64 ? "x86-64" : "x86";
  RegisterCommands();
  // The order of these additions fixes the order of substitution.
  FVars.ReadSystemPaths();
  FVars.Add("InstallerPath", ExcludeTrailingDelimiter(ExeFolder()));
  FVars.Add("SID", GetCurrentUserSid());
  for (const char* name : {"Company", "Name", "ShortName", "Version", "InstallPath"}) FVars.Add(name, "");
  FInstall = std::make_unique<TInstall>();
  FPackage = std::make_unique<TPackageFiles>();
  try {
    Init(requested);
    FError = false;
  } catch (...) {
    FError = true;
    try {
      throw;
    } catch (const volok::Error& error) {
      FFailureCode = error.ExitCode();
    } catch (...) {
    }
    FMessage = CurrentExceptionMessage();
    FMessageType = kMessageError;
    FMessageFatal = false;
  }
}

TInstallerThread::~TInstallerThread() {
  if (FThread.joinable()) {
    Terminate();
    // The body may be blocked in a call to the main thread, which is this
    // one: keep serving until it has ended.
    MainThreadQueue::Instance().ServeUntil([this] { return FFinished.load(); });
    FThread.join();
  }
}

void TInstallerThread::RegisterCommands() {
  auto bind = [this](void (TInstallerThread::*method)(TInstallFile&)) {
    return [this, method](TInstallFile& file) { (this->*method)(file); };
  };
  FInstallActions.Add("UnZip", bind(&TInstallerThread::UnZipCommand));
  FInstallActions.Add("Copy", bind(&TInstallerThread::CopyCommand));
  FInstallActions.Add("Copy2", bind(&TInstallerThread::Copy2Command));
  FInstallActions.Add("CopyText", bind(&TInstallerThread::CopyTextCommand));
  FInstallActions.Add("ProcessText", bind(&TInstallerThread::ProcessTextCommand));
  FInstallActions.Add("Run", bind(&TInstallerThread::RunCommand));
  FInstallActions.Add("RunWait", bind(&TInstallerThread::RunWaitCommand));
  FInstallActions.Add("Link", bind(&TInstallerThread::LinkCommand));
  FInstallActions.Add("DeleteFile", bind(&TInstallerThread::DeleteFileCommand));
  FInstallActions.Add("DeleteFolder", bind(&TInstallerThread::DeleteFolderCommand));
  FInstallActions.Add("ProcessTerminate", bind(&TInstallerThread::ProcessTerminateCommand));
  FInstallActions.Add("RegistryWrite", bind(&TInstallerThread::RegistryWriteCommand));
  FInstallActions.Add("RegistryDelete", bind(&TInstallerThread::RegistryDeleteCommand));
}

std::string TInstallerThread::ReadDescription() {
  const std::string description = ChangeFileExt(ExeFileName(), ".xml");
  // An installed program's uninstaller reads the uninstall.xml its install
  // wrote into the install folder; it carries no description of its own in
  // the manifest, which names the package it was built for.
  if (LowerCase(ExtractFileName(ExeFileName())) == "uninstall.exe") return ReadTextFile(description);
  FPackage->LoadManifest(EngineImageFile(), OwnManifestRecord());
  // The description the builder wrote is "setup.xml"; an engine renamed
  // with its description reads it under its own name.
  (void)FPackage->Verify("setup.xml", description);
  return DecodeText(FPackage->ReadAll("setup.xml"));
}

void TInstallerThread::Init(TScopeSwitch requested) {
  FInstall->ReadXml(DecryptText(ReadDescription()));
  FVars.Add("Company", FInstall->Company());
  FVars.Add("Name", FInstall->Name());
  FVars.Add("ShortName", FInstall->ShortName());
  FVars.Add("Version", VersionToStr(FInstall->Version()));
  FUnInstaller = FInstall->Install().empty();
  ChooseRunScope(requested);
  // A description written for {ProgramFiles} installs per user where
  // per-user programs live.
  if (FScope == TInstallScope::User && !FUnInstaller) FInstall->SetInstallPath(UserInstallPath(FInstall->InstallPath()));
  FInstall->SetInstallPath(FVars.ProcessF(FInstall->InstallPath()));
  FVars.Add("InstallPath", ExcludeTrailingDelimiter(FInstall->InstallPath()));
  if (FInstall->Install().empty() && FInstall->UnInstall().empty())
    throw volok::Error("Нет описания процесса установки/удаления.");
  // An installed program is installed again where it is: the next version
  // run without a folder must not leave the registered copy orphaned. A
  // folder the caller gives replaces this one, as it replaces the default.
  if (!FUnInstaller) {
    const std::string registered = RegisteredLocation();
    if (!Trim(registered).empty()) {
      FRegisteredFolder = registered;
      FInstall->SetInstallPath(registered);
      FVars.Add("InstallPath", ExcludeTrailingDelimiter(registered));
    }
  }
  const bool named_uninstaller = LowerCase(ExtractFileName(ExeFileName())) == "uninstall.exe";
  // A package whose install entries were all lost would otherwise remove
  // the installed program of the same short name: only the uninstaller the
  // install left behind (or its relaunched copy) may uninstall. And that
  // uninstaller installs nothing: its description is not in any manifest.
  if (FUnInstaller != named_uninstaller) throw volok::Error("Нет описания процесса установки/удаления.");
  if (!FUnInstaller) VerifyPackage();
}

void TInstallerThread::VerifyPackage() {
  FPackage->VerifyAll(ExeFolder(), "setup.xml");
  for (const auto& entry : FInstall->Install()) {
    if (!entry) continue;
    // Every file the entries read from the package must be one the
    // manifest vouches for, whatever its CRC field says.
    const std::string name = LowerCase(entry->Action()) == "unzip" ? PackageName(entry->FileName()) : entry->FileName();
    const bool reads_package = IsPackageCommand(entry->Action()) && !name.empty();
    if (!reads_package && entry->CRC32() == 0) continue;
    const TFileDigest* digest = FPackage->Digest(name);
    if (!digest || (entry->CRC32() != 0 && digest->Crc32 != entry->CRC32()) ||
        (entry->Size() != 0 && entry->Size() != static_cast<std::uint32_t>(digest->Size)))
      throw volok::Error(kChecksumMessage);
  }
}

void TInstallerThread::Start() {
  FThread = std::thread([this] {
    Execute();
    FFinished = true;
    MainThreadQueue::Instance().Notify();
  });
}

void TInstallerThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TInstallerThread::Execute() {
  FRunning = true;
  try {
    Notify(OnStart);
    OpenJournal();
    if (FUnInstaller)
      UnInstall();
    else
      Install();
  } catch (...) {
    FError = true;
    try {
      throw;
    } catch (const volok::Error& error) {
      FFailureCode = error.ExitCode();
    } catch (...) {
    }
    // The programs the run closed had been running: back before the final
    // message, which stays the run's last.
    RestartClosedApplications();
    // Whatever the step that noticed it said, a run asked to stop was
    // cancelled by its user.
    if (FFailureCode == 0 && FTerminated) FFailureCode = kExitCancelled;
    // The journal and its lock go before the outcome is told: whoever acts
    // on it (a second run, a tool that repairs at once) finds them free.
    FJournal.reset();
    std::string prefix = FUnInstaller ? "Удаление завершена с ошибкой: " : "Установка завершена с ошибкой: ";
    try {
      DoMessage(prefix + CurrentExceptionMessage(), kMessageError, true);
    } catch (...) {
      // A handler that fails on the final message has nothing left to stop.
    }
  }
  try {
    Notify(OnStop);
  } catch (...) {
  }
  FRunning = false;
}

void TInstallerThread::DoMessage(const std::string& message, int message_type, bool is_fatal) {
  FMessage = message;
  FMessageType = message_type;
  FMessageFatal = is_fatal;
  if (OnMessage)
    MainThreadQueue::Instance().Call([&] { OnMessage(*this, FMessage, FMessageType, FMessageFatal); });
}

void TInstallerThread::Notify(const TNotifyEvent& event) {
  if (event) MainThreadQueue::Instance().Call([&] { event(*this); });
}

void TInstallerThread::ProgressStart(int steps) {
  if (OnProgressStart) MainThreadQueue::Instance().Call([&] { OnProgressStart(*this, steps); });
}

void TInstallerThread::ProgressStep() { Notify(OnProgressStep); }

void TInstallerThread::LogSilent(TInstallerThread&, const std::string& message, int, bool is_fatal) {
  WriteLogLine(is_fatal ? "Fatal " + message : message, nullptr, 0, 65001, true);
}

}  // namespace volok
