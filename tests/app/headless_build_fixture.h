// The headless build works in the current folder: each test moves into a
// folder of its own and back, keeps the log file there, and ships a
// stand-in engine that passes for this engine's Windows build.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/app_paths.h"
#include "sealed_package.h"
#include "temp_folder.h"

namespace volok {

extern const char kEngineMarker[];

class HeadlessBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedFolder = std::filesystem::current_path();
    FSavedLog = LogFileName();
    std::filesystem::current_path(FWork.NativePath());
    SetLogFileName(FWork.File("build.log"));
    testing::WriteNative(FWork.Native("engine.exe"), FakeEngine(0x8664, true));
    testing::WriteNative(FWork.Native("a.txt"), "payload");
  }
  void TearDown() override {
    std::filesystem::current_path(FSavedFolder);
    SetLogFileName(FSavedLog);
  }

  // The smallest file that passes for a Windows program the builder can
  // seal, and maybe the engine's mark.
  static std::string FakeEngine(unsigned machine, bool marked) {
    std::string bytes = testing::StandInPeEngine(machine);
    return marked ? bytes + kEngineMarker : bytes;
  }

  testing::TempFolder FWork;
  std::filesystem::path FSavedFolder;
  std::string FSavedLog;
};

}  // namespace volok
