// A package folder with a description beside a stand-in executable, an
// install target, a private registry, and recorded worker events.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "archive/archive_password.h"
#include "archive/zip_writer.h"
#include "common/app_paths.h"
#include "common/crc32.h"
#include "common/crypt.h"
#include "common/main_thread.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "sealed_package.h"
#include "temp_folder.h"

namespace volok {

using platform::RegistryRoot;

// The last line of a run that completed.
inline constexpr char kDone[] = "[Install] Установка завершена.";

class FakeSecurity final : public platform::Security {
 public:
  std::string CurrentUserSid() override { return "S-1-5-21-7-8-9-1001"; }
  bool IsAdministrator() override { return Admin; }
  bool Admin = true;
};

struct Recorded {
  std::vector<std::string> Messages;  // "type|fatal|text"
  int StepsAnnounced = -1;
  int Steps = 0;
  int Starts = 0;
  int Stops = 0;
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("VOLOK_REGISTRY_DIR", FRegistryStore.NativePath().c_str(), 1);
    setenv("VOLOK_JOURNAL_DIR", FJournals.NativePath().c_str(), 1);
#else
    _putenv_s("VOLOK_JOURNAL_DIR", FJournals.Path().c_str());
#endif
    FSavedExe = ExeFileName();
    SetExeFileName(FPackage.File("setup.exe"));
    testing::WriteNative(FPackage.Native("setup.exe"), "not really a program");
    MainThreadQueue::Instance().BindToCurrentThread();
    FShortName = "VolokTest" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  }
  void TearDown() override {
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::LocalMachine, RegistrationKey());
    SetExeFileName(FSavedExe);
#ifndef _WIN32
    unsetenv("VOLOK_REGISTRY_DIR");
    unsetenv("VOLOK_JOURNAL_DIR");
#else
    _putenv_s("VOLOK_JOURNAL_DIR", "");
#endif
  }

  std::string RegistrationKey() const {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + FShortName;
  }

  void WriteDescription(const std::string& body, const std::string& install_path) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Installer><Number>1.2.3.4</Number>"
                      "<Company>Фирма</Company><Name>Demo {Version}</Name><ShortName>" +
                      FShortName + "</ShortName><URL>http://x.test</URL><InstallPath>" + install_path +
                      "</InstallPath>" + body + "</Installer>";
    // Only an installed program's uninstall.exe (or its relaunched copy)
    // runs an uninstall-only description.
    if (body.find("<Install>") == std::string::npos && body.find("<UnInstall>") != std::string::npos) {
      SetExeFileName(FPackage.File("uninstall.exe"));
      testing::WriteNative(FPackage.Native("uninstall.exe"), "not really a program");
      WriteTextFile(EncryptText(xml), FPackage.File("uninstall.xml"), 65001);
      return;
    }
    WriteTextFile(EncryptText(xml), FPackage.File("setup.xml"), 65001);
  }

  static std::string Entry(const std::string& name, const std::string& action, const std::string& extra = "") {
    return "<File><Name>" + name + "</Name><FileName>{InstallPath}\\" + name + "</FileName><Action>" + action +
           "</Action><Destination>{ShortName}</Destination>" + extra + "</File>";
  }

  static std::string File(const std::string& name, const std::string& file_name, const std::string& action,
                          const std::string& destination, const std::string& extra = "") {
    return "<File><Name>" + name + "</Name><FileName>" + file_name + "</FileName><Action>" + action +
           "</Action><Destination>" + destination + "</Destination>" + extra + "</File>";
  }

  // Installs a description whose install list is `entries`; answers the
  // worker's final message.
  std::string InstallEntries(const std::string& entries, const std::string& target) {
    WriteDescription("<Install>" + entries + "</Install>", target);
    TInstallerThread worker;
    if (worker.Error()) return "construction: " + worker.Message();
    Attach(worker);
    Run(worker);
    return worker.Message();
  }

  // Packs `folder` as the package's payload archive "data.zip", as the
  // builder does; gives the archive's path.
  std::string PackPayload(const std::string& folder) {
    ZipWriter writer;
    writer.SetBaseFolder(folder);
    writer.SetPassword(std::string(ArchivePassword));
    writer.SetFileName(FPackage.File("data.zip"));
    writer.AddFiles("*.*", 0x1FF);
    writer.Save();
    return FPackage.File("data.zip");
  }

  bool Logged(const std::string& text) const {
    return std::find(FRecorded.Messages.begin(), FRecorded.Messages.end(), text) != FRecorded.Messages.end();
  }

  void Attach(TInstallerThread& worker) {
    worker.OnMessage = [this](TInstallerThread&, const std::string& text, int type, bool fatal) {
      FRecorded.Messages.push_back(std::to_string(type) + "|" + (fatal ? "F" : "-") + "|" + text);
    };
    worker.OnProgressStart = [this](TInstallerThread&, int steps) { FRecorded.StepsAnnounced = steps; };
    worker.OnProgressStep = [this](TInstallerThread&) { ++FRecorded.Steps; };
    worker.OnStart = [this](TInstallerThread&) { ++FRecorded.Starts; };
    worker.OnStop = [this](TInstallerThread&) { ++FRecorded.Stops; };
  }

  static void Run(TInstallerThread& worker) {
    worker.Start();
    MainThreadQueue::Instance().ServeUntil([&] { return worker.Finished(); });
    worker.WaitFor();
  }

  std::string RegistryText(const std::string& name) {
    platform::RegistryValue value;
    if (!platform::Registry::Default().ReadValue(RegistryRoot::LocalMachine, RegistrationKey(), name, value).ok())
      return "<missing>";
    return value.Type == platform::RegistryType::Dword ? "dword:" + std::to_string(value.Number) : value.Text;
  }

  testing::TempFolder FPackage, FTarget, FRegistryStore, FJournals;
  FakeSecurity FSecurity;
  platform::ScopedDefault<platform::Security> FSecurityScope{FSecurity};
  // Every worker starts as a package that the builder sealed.
  testing::ScopedSealing FSealing;
  std::string FSavedExe, FShortName;
  Recorded FRecorded;
};


}  // namespace volok
