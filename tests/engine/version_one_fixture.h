// An install folder with version 1 of the program in it (registered there)
// and a package of version 2 beside it, for the tests of upgrades.
#pragma once

#include <filesystem>
#include <map>

#include "scoped_env.h"
#include "worker_fixture.h"

namespace volok {

// Every file and folder below a folder: relative path -> content ("<dir>"
// for folders).
using Tree = std::map<std::string, std::string>;

inline Tree Snapshot(const std::filesystem::path& root) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    tree[std::filesystem::relative(entry.path(), root).generic_string()] =
        entry.is_directory() ? "<dir>" : testing::ReadNative(entry.path());
  return tree;
}

class VersionOneTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    namespace fs = std::filesystem;
    fs::create_directories(FSource.Native("sub"));
    testing::WriteNative(FSource.Native("a.txt"), "new a");
    testing::WriteNative(FSource.Native("sub/b.txt"), "new b");
    testing::WriteNative(FSource.Native("sub/c.txt"), "new c");
    FArchive = PackPayload(FSource.Path());
    FApp = FTarget.File("app");
    fs::create_directories(FTarget.Native("app/sub"));
    testing::WriteNative(FTarget.Native("app/a.txt"), "old a");
    testing::WriteNative(FTarget.Native("app/sub/b.txt"), "old b");
    testing::WriteNative(FTarget.Native("app/sub/c.txt"), "old c");
    testing::WriteNative(FTarget.Native("app/uninstall.exe"), "engine 1");
    auto& registry = platform::Registry::Default();
    ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "DisplayName", "Version 1").ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FApp).ok());
  }

  // Whether a run left its journal.
  bool JournalLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(FJournals.NativePath()))
      if (entry.path().extension() == ".journal") return true;
    return false;
  }

  testing::TempFolder FSource, FData;
  // An earlier backup goes to a Recycle Bin of the test's own.
  testing::ScopedEnv FDataHome{"XDG_DATA_HOME", FData.NativePath().string()};
  std::string FArchive, FApp;
};

}  // namespace volok
