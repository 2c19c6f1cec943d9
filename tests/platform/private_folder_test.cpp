// The private folder an elevated run keeps its relaunch in: the descriptor
// the Windows build gives it (tested as text, since Wine keeps none on
// disk), and that a name already there is never taken over.
#include "platform/private_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "temp_folder.h"

namespace volok::platform {
namespace {

TEST(PrivateFolderTest, OnlyAdministratorsSystemAndTheUserAndNothingInherited) {
  EXPECT_EQ(PrivateFolderSddl("S-1-5-21-1-2-3-1001"),
            "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)");
  // SYSTEM itself, or an unknown user, adds no entry of its own.
  EXPECT_EQ(PrivateFolderSddl("S-1-5-18"), "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
  EXPECT_EQ(PrivateFolderSddl(""), "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
  EXPECT_EQ(PrivateFolderSddlOwnedByUser("S-1-5-21-9"), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-9)");
}

TEST(PrivateFolderTest, ANameThatExistsIsNeverTakenOver) {
  volok::testing::TempFolder scratch;
  ASSERT_TRUE(MakePrivateFolder(scratch.File("mine")).ok());
  EXPECT_TRUE(std::filesystem::is_directory(scratch.Native("mine")));
  EXPECT_FALSE(MakePrivateFolder(scratch.File("mine")).ok());
  volok::testing::WriteNative(scratch.Native("file"), "x");
  EXPECT_FALSE(MakePrivateFolder(scratch.File("file")).ok());
#ifndef _WIN32
  std::filesystem::create_directory_symlink(scratch.Native("mine"), scratch.Native("link"));
  EXPECT_FALSE(MakePrivateFolder(scratch.File("link")).ok());
  ::umask(0);
  ASSERT_TRUE(MakePrivateFolder(scratch.File("strict")).ok());
  ::umask(022);
  EXPECT_EQ(std::filesystem::status(scratch.Native("strict")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
#endif
}

}  // namespace
}  // namespace volok::platform
