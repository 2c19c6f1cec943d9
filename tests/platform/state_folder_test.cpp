// The state folder's protection: the descriptor the engine builds and the
// verdict on descriptors and modes it may meet (Wine keeps no descriptors
// on disk, so the Windows verdict is checked on descriptors built here),
// and the folder as the platform makes it.
#include "platform/state_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "temp_folder.h"
#ifdef _WIN32
#include "platform/win32/security_descriptor.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace volok::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(StateFolderTrustTest, OwnerAndModeDecideWhetherAPosixEntryIsTrusted) {
  struct Case {
    unsigned Uid, Mode;
    TrustScope Scope;
    bool Folder, Trusted;
  };
  const unsigned dir = 0040000, file = 0100000, link = 0120000;
  const Case cases[] = {
      {0, dir | 0755, TrustScope::Above, true, true},
      {1000, dir | 0700, TrustScope::Own, true, true},          // the running account
      {65534, dir | 0700, TrustScope::Own, true, false},        // another account
      {65534, dir | 0755, TrustScope::Above, true, false},
      {0, dir | 01777, TrustScope::Above, true, true},          // /tmp: others add, nobody removes ours
      {0, dir | 01777, TrustScope::Own, true, false},
      {0, dir | 0777, TrustScope::Above, true, false},          // no sticky bit: anyone renames
      {0, dir | 0775, TrustScope::Own, true, false},            // the group writes
      {0, dir | 0755, TrustScope::Own, true, true},             // readable only: tightened, not refused
      {0, file | 0644, TrustScope::Own, false, true},
      {0, file | 0666, TrustScope::Own, false, false},
      {0, link | 0777, TrustScope::Own, false, false},
      {0, dir | 0700, TrustScope::Own, false, false},           // a folder where a file belongs
      {0, file | 0600, TrustScope::Own, true, false},
      {0, 0010000 | 0600, TrustScope::Own, false, false},       // a FIFO
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(TrustedPosixEntry(c.Uid, c.Mode, 1000, c.Scope, c.Folder, why), c.Trusted)
        << c.Uid << " " << std::oct << c.Mode << " " << static_cast<int>(c.Scope);
    EXPECT_EQ(why.empty(), c.Trusted) << why;
  }
}

TEST(StateFolderTrustTest, AChosenFolderIsItsLastNameBelowItsParent) {
  const StatePlace place = ChosenPlace("Z:\\tmp\\journal\\");
  EXPECT_EQ(place.Base, "Z:\\tmp");
  ASSERT_EQ(place.Names.size(), 1u);
  EXPECT_EQ(place.Names[0], "journal");
  EXPECT_FALSE(place.SetAside);
  EXPECT_EQ(ChosenPlace("C:\\journal").Base, "C:\\");
  EXPECT_EQ((StatePlace{"C:\\ProgramData", {"volok", "journal"}}).Folder(), "C:\\ProgramData\\volok\\journal");
}

// A program that fails to start must not keep the run's lock once the run
// has its answer: the next run would be told another one is going on.
TEST(StateFolderTest, AProgramThatFailsToStartLeavesTheLockFree) {
  TempFolder base;
  const StatePlace place{base.Path(), {"volok", "journal"}};
  std::vector<std::string> notes;
  ASSERT_TRUE(PrepareStateFolder(place, notes).ok());
  const std::string missing = "\"" + base.File("no such program") + "\"";
  for (int round = 0; round < 50; ++round) {
    std::unique_ptr<File> lock;
    bool busy = false;
    ASSERT_TRUE(LockStateFile(place.Folder() + "\\p.lock", lock, busy).ok()) << "round " << round;
    EXPECT_FALSE(Processes::Default().Launch(missing, base.Path()).ok());
    std::unique_ptr<Process> waited;
    EXPECT_FALSE(Processes::Default().Start(missing, base.Path(), waited).ok());
  }
}

TEST(StateFolderTest, TheFolderIsMadeTheLockTakenAndItsFilesRead) {
  TempFolder base;
  const StatePlace place{base.Path(), {"volok", "journal"}};
  std::vector<std::string> notes;
  ASSERT_TRUE(PrepareStateFolder(place, notes).ok());
  EXPECT_TRUE(notes.empty());
  ASSERT_TRUE(fs::is_directory(base.Native("volok/journal")));
  std::unique_ptr<File> lock, second;
  bool busy = false;
  ASSERT_TRUE(LockStateFile(place.Folder() + "\\p.lock", lock, busy).ok());
  EXPECT_FALSE(LockStateFile(place.Folder() + "\\p.lock", second, busy).ok());
  EXPECT_TRUE(busy);
  std::string bytes, why;
  EXPECT_EQ(ReadStateFile(place.Folder() + "\\none", bytes, why), StateRead::Missing);
  testing::WriteNative(base.Native("volok/journal/j"), "text");
  EXPECT_EQ(ReadStateFile(place.Folder() + "\\j", bytes, why), StateRead::Read) << why;
  EXPECT_EQ(bytes, "text");
  std::string aside;
  ASSERT_TRUE(SetStateEntryAside(place.Folder() + "\\j", aside).ok());
  EXPECT_FALSE(fs::exists(base.Native("volok/journal/j")));
  EXPECT_EQ(testing::ReadNative(TempFolder::NativeOf(aside)), "text");
  // Prepared again, the folder is found as made.
  ASSERT_TRUE(PrepareStateFolder(place, notes).ok());
  EXPECT_TRUE(notes.empty());
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(::stat(base.Native("volok/journal").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(base.Native("volok/journal/p.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
#endif
}

TEST(StateFolderTest, AFileInPlaceOfTheFolderIsSetAsideInTheDefaultPlaceAndRefusedInAChosenOne) {
  TempFolder base;
  testing::WriteNative(base.Native("volok"), "in the way");
  std::vector<std::string> notes;
  EXPECT_FALSE(PrepareStateFolder(ChosenPlace(base.File("volok")), notes).ok());
  EXPECT_EQ(testing::ReadNative(base.Native("volok")), "in the way");
  ASSERT_TRUE(PrepareStateFolder({base.Path(), {"volok", "journal"}}, notes).ok());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(fs::is_directory(base.Native("volok/journal")));
  bool kept = false;
  for (const auto& entry : fs::directory_iterator(base.NativePath()))
    kept = kept || (entry.path().filename().string().rfind("volok.untrusted-", 0) == 0 &&
                    testing::ReadNative(entry.path()) == "in the way");
  EXPECT_TRUE(kept) << notes[0];
}

#ifndef _WIN32
TEST(StateFolderTest, AFolderOfAnotherAccountIsSetAsideInTheDefaultPlaceAndRefusedInAChosenOne) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another account";
  TempFolder base;
  fs::create_directories(base.Native("volok/journal"));
  testing::WriteNative(base.Native("volok/journal/planted"), "theirs");
  ASSERT_EQ(::chown(base.Native("volok").c_str(), 65534, 65534), 0);
  std::vector<std::string> notes;
  EXPECT_FALSE(PrepareStateFolder(ChosenPlace(base.File("volok")), notes).ok());
  EXPECT_TRUE(fs::exists(base.Native("volok/journal/planted")));
  ASSERT_TRUE(PrepareStateFolder({base.Path(), {"volok", "journal"}}, notes).ok());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("uid 65534"), std::string::npos) << notes[0];
  EXPECT_FALSE(fs::exists(base.Native("volok/journal/planted")));
  // A folder above that another account may rename: nothing is made there.
  TempFolder open;
  fs::permissions(open.NativePath(), fs::perms::all);
  EXPECT_FALSE(PrepareStateFolder({open.Path(), {"volok"}}, notes).ok());
  EXPECT_FALSE(fs::exists(open.Native("volok")));
}

TEST(StateFolderTest, AFileOfTheStateFolderIsReadOnlyWhenNobodyElseMayWriteIt) {
  TempFolder base;
  testing::WriteNative(base.Native("target"), "elsewhere");
  fs::create_symlink(base.Native("target"), base.Native("link"));
  std::string bytes, why;
  EXPECT_EQ(ReadStateFile(base.File("link"), bytes, why), StateRead::Untrusted);
  EXPECT_TRUE(bytes.empty());
  testing::WriteNative(base.Native("shared"), "anyone's");
  fs::permissions(base.Native("shared"), fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(ReadStateFile(base.File("shared"), bytes, why), StateRead::Untrusted);
  std::unique_ptr<File> lock;
  bool busy = false;
  EXPECT_FALSE(LockStateFile(base.File("link"), lock, busy).ok());
  EXPECT_EQ(testing::ReadNative(base.Native("target")), "elsewhere");
}
#endif

#ifdef _WIN32
TEST(StateFolderDescriptorTest, TheEngineGivesItsFolderOwnerAdministratorsAndNoInheritedEntries) {
  const std::string sddl = win32::ProtectedDescriptorSddl();
  EXPECT_EQ(sddl, "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
  std::string why;
  EXPECT_TRUE(win32::TrustedDescriptorSddl(sddl, "", TrustScope::Own, why)) << why;
}

TEST(StateFolderDescriptorTest, TheVerdictOnDescriptorsTheEngineMayMeet) {
  const std::string user = "S-1-5-21-1-2-3-1001", other = "S-1-5-21-1-2-3-1002";
  struct Case {
    const char* Name;
    std::string Sddl;
    TrustScope Scope;
    bool Trusted;
  };
  const Case cases[] = {
      {"ProgramData", "O:SYG:SYD:PAI(A;OICIIO;FA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                      "(A;CI;0x100116;;;BU)",
       TrustScope::Above, true},
      {"ProgramData as the state folder", "O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100116;;;BU)",
       TrustScope::Own, false},
      {"the drive root", "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;OICI;FA;;;BA)"
                         "(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;AU)(A;CIIO;SDGXGWGR;;;AU)",
       TrustScope::Above, true},
      {"made in ProgramData by a user", "O:" + other + "D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;" + other +
                                            ")(A;OICIID;0x1200a9;;;BU)",
       TrustScope::Own, false},
      {"owned by Administrators, writable by a user", "O:BAD:P(A;OICI;FA;;;BA)(A;;FA;;;" + other + ")",
       TrustScope::Own, false},
      {"the running account's own", "O:" + user + "D:P(A;OICI;FA;;;" + user + ")", TrustScope::Own, true},
      {"no access list", "O:BA", TrustScope::Above, false},
      {"everyone may change its list", "O:BAD:(A;;FA;;;BA)(A;;WD;;;WD)", TrustScope::Above, false},
      {"everyone may delete children", "O:BAD:(A;;FA;;;BA)(A;;0x40;;;WD)", TrustScope::Above, false},
      {"everyone may read", "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)", TrustScope::Own, true},
      {"a denial only takes away", "O:BAD:P(D;;FA;;;WD)(A;OICI;FA;;;BA)", TrustScope::Own, true},
      {"inherited below only", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)", TrustScope::Own, true},
      {"generic write for users", "O:BAD:P(A;OICI;FA;;;BA)(A;;GW;;;BU)", TrustScope::Own, false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(win32::TrustedDescriptorSddl(c.Sddl, user, c.Scope, why), c.Trusted) << c.Name << ": " << why;
    EXPECT_EQ(why.empty(), c.Trusted) << c.Name << ": " << why;
  }
  std::string why;
  EXPECT_FALSE(win32::TrustedDescriptorSddl("not a descriptor", user, TrustScope::Above, why));
}
#endif

}  // namespace
}  // namespace volok::platform
