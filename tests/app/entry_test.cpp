// The entry helpers that let an uninstaller remove the folder it started
// from: the temporary-folder test, the relaunch copy, and the self-delete.
#include "app/entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/app_paths.h"
#include "common/file_utils.h"
#include "temp_folder.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { FSaved = ExeFileName(); }
  void TearDown() override { SetExeFileName(FSaved); }

  // A small real program to copy and start: it must end by itself whatever
  // its arguments.
  static std::string HarmlessProgram() {
#ifdef _WIN32
    return "C:\\windows\\system32\\hostname.exe";
#else
    return "Z:\\bin\\true";
#endif
  }

  static bool WaitGone(const fs::path& path) {
    for (int i = 0; i < 200; ++i) {
      if (!fs::exists(path)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string FSaved;
};

TEST_F(EntryTest, RunningFromTempMeansInsideItNotBesideIt) {
  std::string temp = GetTempFolder();
  ASSERT_FALSE(temp.empty());
  SetExeFileName(temp + "\\x\\uninstall.exe");
  EXPECT_TRUE(IsRunningFromTemp());
  SetExeFileName(temp + "\\uninstall.exe");
  EXPECT_TRUE(IsRunningFromTemp());
  SetExeFileName(temp + "2\\setup.exe");  // a sibling that starts the same
  EXPECT_FALSE(IsRunningFromTemp());
  SetExeFileName("C:\\Program Files\\App\\uninstall.exe");
  EXPECT_FALSE(IsRunningFromTemp());
}

TEST_F(EntryTest, RelaunchCopiesIntoAFreshFolderUnderFixedNames) {
  testing::TempFolder install;
  fs::copy_file(testing::TempFolder::NativeOf(HarmlessProgram()), install.Native("my-uninstaller.exe"));
  testing::WriteNative(install.Native("my-uninstaller.xml"), "description");
  SetExeFileName(install.File("my-uninstaller.exe"));
  std::string first = RelaunchFromTemp(true);
  std::string second = RelaunchFromTemp(false);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const std::string& copy : {first, second}) {
    std::string folder = ExtractFilePath(copy);
    EXPECT_EQ(ExtractFileName(copy), "uninstall.exe");
    EXPECT_EQ(folder.rfind(IncludeTrailingDelimiter(GetTempFolder()) + kRelaunchFolderPrefix, 0), 0u) << folder;
    SetExeFileName(copy);
    EXPECT_TRUE(IsRunningFromTemp());
    // The relaunched copy's own end: the batch removes it all.
    std::string xml = ChangeFileExt(copy, ".xml");
    WriteSelfDeleteBatch();
    SetExeFileName(install.File("my-uninstaller.exe"));
    (void)xml;
  }
  // The batches ran after a short delay; everything of the copies is gone.
  for (const std::string& copy : {first, second}) {
    fs::path native = fs::path(testing::TempFolder::NativeOf(ExtractFilePath(copy)));
    EXPECT_TRUE(WaitGone(native)) << native;
  }
}

}  // namespace
}  // namespace volok
