// One contract for the registry: the POSIX store natively, the real registry
// under Wine.
#include "platform/registry.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "temp_folder.h"

namespace volok::platform {
namespace {

constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("VOLOK_REGISTRY_DIR", FStore.NativePath().c_str(), 1);
#endif
    FKey = "Software\\VolokTest\\" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    ASSERT_TRUE(FRegistry.CreateKey(kRoot, FKey).ok());
  }
  void TearDown() override {
    (void)FRegistry.DeleteKeyTree(kRoot, FKey);
#ifndef _WIN32
    unsetenv("VOLOK_REGISTRY_DIR");
#endif
  }

  std::string Text(const std::string& key, const std::string& name) {
    RegistryValue value;
    Status status = FRegistry.ReadValue(kRoot, key, name, value);
    if (!status.ok()) return "<missing>";
    return value.Type == RegistryType::String ? value.Text : "dword:" + std::to_string(value.Number);
  }

  volok::testing::TempFolder FStore;
  Registry& FRegistry = Registry::Default();
  std::string FKey;
};

TEST_F(RegistryTest, ValuesAreWrittenReadAndReplacedIgnoringCase) {
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "DisplayName", "Программа \"Ёж\" C:\\x").ok());
  ASSERT_TRUE(FRegistry.SetDword(kRoot, FKey, "NoModify", 1).ok());
  ASSERT_TRUE(FRegistry.SetDword(kRoot, FKey, "Big", 0xFFFFFFFFu).ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "Lines", "a\r\nb").ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "", "default").ok());
  EXPECT_EQ(Text(FKey, "displayname"), "Программа \"Ёж\" C:\\x");
  EXPECT_EQ(Text(FKey, "NoModify"), "dword:1");
  EXPECT_EQ(Text(FKey, "Big"), "dword:4294967295");
  EXPECT_EQ(Text(FKey, "Lines"), "a\r\nb");
  EXPECT_EQ(Text(FKey, ""), "default");
  // Another writer's values stay when one is replaced.
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "DISPLAYNAME", "new").ok());
  EXPECT_EQ(Text(FKey, "DisplayName"), "new");
  EXPECT_EQ(Text(FKey, "NoModify"), "dword:1");
  // Key paths ignore case and a leading backslash.
  std::string upper = FKey;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(Text("\\" + upper, "DisplayName"), "new");
}

TEST_F(RegistryTest, DeletingValuesAndTrees) {
  ASSERT_TRUE(FRegistry.CreateKey(kRoot, FKey + "\\Sub\\Deeper\\Ключ").ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey + "\\Sub", "v", "1").ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "keep", "k").ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, "drop", "d").ok());
  ASSERT_TRUE(FRegistry.DeleteValue(kRoot, FKey, "DROP").ok());
  EXPECT_EQ(Text(FKey, "drop"), "<missing>");
  EXPECT_EQ(Text(FKey, "keep"), "k");
  EXPECT_FALSE(FRegistry.DeleteValue(kRoot, FKey, "drop").ok());
  EXPECT_FALSE(FRegistry.DeleteValue(kRoot, FKey + "\\Missing", "x").ok());

  std::vector<std::string> names;
  ASSERT_TRUE(FRegistry.SubKeys(kRoot, FKey, names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"Sub"});
  ASSERT_TRUE(FRegistry.DeleteKeyTree(kRoot, FKey + "\\sub").ok());
  EXPECT_FALSE(FRegistry.SubKeys(kRoot, FKey + "\\Sub", names).ok());
  EXPECT_EQ(Text(FKey, "keep"), "k");
  EXPECT_TRUE(FRegistry.DeleteKeyTree(kRoot, FKey + "\\Sub").ok());  // already gone
  EXPECT_FALSE(FRegistry.DeleteKeyTree(kRoot, "").ok());             // never a root
}

#ifdef _WIN32
// Gives the key an empty access list (nobody may open it for deleting) or,
// with `locked` false, none at all (everybody may). The owner may always
// change the list.
bool LockKey(const std::string& key, bool locked) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(key.begin(), key.end()).c_str(), 0, WRITE_DAC, &handle) !=
      ERROR_SUCCESS)
    return false;
  ACL empty;
  SECURITY_DESCRIPTOR descriptor;
  bool done = InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
              InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor, TRUE, locked ? &empty : nullptr, FALSE) &&
              RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return done;
}

TEST_F(RegistryTest, TreeDeleteGoesOnPastASubKeyThatStays) {
  for (const char* name : {"\\a\\x", "\\b\\x", "\\c\\x"}) ASSERT_TRUE(FRegistry.CreateKey(kRoot, FKey + name).ok());
  ASSERT_TRUE(LockKey(FKey + "\\b", true));
  EXPECT_FALSE(FRegistry.DeleteKeyTree(kRoot, FKey).ok());
  std::vector<std::string> names;
  ASSERT_TRUE(FRegistry.SubKeys(kRoot, FKey, names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"b"}) << "the keys before and after the locked one are gone";
  ASSERT_TRUE(LockKey(FKey + "\\b", false));
  EXPECT_TRUE(FRegistry.DeleteKeyTree(kRoot, FKey).ok());
}
#endif

TEST_F(RegistryTest, MissingKeysAreNotCreatedBySettingValues) {
  EXPECT_FALSE(FRegistry.SetString(kRoot, FKey + "\\None", "v", "x").ok());
  EXPECT_FALSE(FRegistry.SetDword(kRoot, FKey + "\\None", "v", 1).ok());
  std::vector<std::string> names;
  ASSERT_TRUE(FRegistry.SubKeys(kRoot, FKey, names).ok());
  EXPECT_TRUE(names.empty());
}

TEST_F(RegistryTest, KeyNamesWithAnyCharacterButBackslash) {
  for (std::string name : {".hidden", "a/b", "100%", "Имя ключа"}) {
    ASSERT_TRUE(FRegistry.CreateKey(kRoot, FKey + "\\" + name).ok()) << name;
    ASSERT_TRUE(FRegistry.SetString(kRoot, FKey + "\\" + name, "n", name).ok()) << name;
    EXPECT_EQ(Text(FKey + "\\" + name, "n"), name);
  }
  std::vector<std::string> names;
  ASSERT_TRUE(FRegistry.SubKeys(kRoot, FKey, names).ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "100%", "a/b", "Имя ключа"}));
}

TEST_F(RegistryTest, ValueNamesWithControlCharactersRoundTrip) {
  const std::vector<std::string> names = {"line\nbreak", "tab\tand\rreturn", "\\x41 \"quoted\"", "end\n"};
  for (const std::string& name : names) ASSERT_TRUE(FRegistry.SetString(kRoot, FKey, name, "v:" + name).ok());
  for (const std::string& name : names) EXPECT_EQ(Text(FKey, name), "v:" + name);
  // A line break must not split one value into two.
  EXPECT_EQ(Text(FKey, "line"), "<missing>");
  EXPECT_EQ(Text(FKey, "break"), "<missing>");
  EXPECT_EQ(Text(FKey, "A \"quoted\""), "<missing>");
  ASSERT_TRUE(FRegistry.DeleteValue(kRoot, FKey, "line\nbreak").ok());
  EXPECT_EQ(Text(FKey, "line\nbreak"), "<missing>");
  EXPECT_EQ(Text(FKey, "end\n"), "v:end\n");
}

#ifndef _WIN32
TEST_F(RegistryTest, AKeyNameWithALineBreakCannotPlantAValue) {
  std::string key = FKey + "\\x\n\"n\"=\"planted\"";
  ASSERT_TRUE(FRegistry.CreateKey(kRoot, key).ok());
  ASSERT_TRUE(FRegistry.SetString(kRoot, key, "other", "1").ok());
  EXPECT_EQ(Text(key, "n"), "<missing>");
}

// Sets or unsets one environment variable for the life of the object.
class ScopedVariable final {
 public:
  ScopedVariable(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    FHadOld = std::getenv(name) != nullptr;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVariable() { FHadOld ? setenv(FName, FOld.c_str(), 1) : unsetenv(FName); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* FName;
  std::string FOld;
  bool FHadOld = false;
};

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A fresh account has no ~/.local/share yet, and nobody set the store's folder.
TEST(RegistryStoreTest, AFreshAccountGetsItsStoreOnTheFirstWrite) {
  volok::testing::TempFolder account;
  std::filesystem::path home = account.Native("home");
  std::filesystem::create_directory(home);
  std::filesystem::permissions(home, std::filesystem::perms(0751));
  ScopedVariable no_dir("VOLOK_REGISTRY_DIR", nullptr), no_data("XDG_DATA_HOME", nullptr),
      fresh_home("HOME", home.c_str());
  Registry& registry = Registry::Default();
  ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, "Software\\Fresh").ok());
  ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, "Software\\Fresh", "Name", "value").ok());
  RegistryValue value;
  ASSERT_TRUE(registry.ReadValue(RegistryRoot::LocalMachine, "Software\\Fresh", "Name", value).ok());
  EXPECT_EQ(value.Text, "value");
  EXPECT_TRUE(std::filesystem::is_directory(home / ".local/share/volok/registry/HKEY_LOCAL_MACHINE/Software/Fresh"));
  // Folders made in the user's data folder are the user's alone; the home
  // folder that existed keeps its mode.
  for (const char* made : {".local", ".local/share", ".local/share/volok", ".local/share/volok/registry"})
    EXPECT_EQ(ModeOf(home / made), 0700u) << made;
  EXPECT_EQ(ModeOf(home), 0751u);
}

TEST(RegistryStoreTest, AChosenStoreFolderIsMadeWithItsMissingParents) {
  volok::testing::TempFolder scratch;
  std::filesystem::path store = scratch.Native("a") / "b" / "registry";
  ScopedVariable dir("VOLOK_REGISTRY_DIR", store.c_str());
  ASSERT_TRUE(Registry::Default().CreateKey(RegistryRoot::CurrentUser, "Software").ok());
  EXPECT_TRUE(std::filesystem::is_directory(store / "HKEY_CURRENT_USER" / "Software"));
}

// A writer killed mid-write leaves its temporary file; readers ignore it and
// the next write of the key clears it, whatever name an older writer used.
TEST(RegistryStoreTest, TemporariesOfKilledWritersAreIgnoredAndCleared) {
  volok::testing::TempFolder scratch;
  std::filesystem::path store = scratch.Native("registry");
  ScopedVariable dir("VOLOK_REGISTRY_DIR", store.c_str());
  Registry& registry = Registry::Default();
  ASSERT_TRUE(registry.CreateKey(RegistryRoot::CurrentUser, "Software\\Killed").ok());
  ASSERT_TRUE(registry.SetString(RegistryRoot::CurrentUser, "Software\\Killed", "Name", "old").ok());
  std::filesystem::path key = store / "HKEY_CURRENT_USER" / "Software" / "Killed";
  for (const char* stray : {".values.reg.tmp", ".values.reg.tmp4242"})
    std::ofstream(key / stray) << "HALF \"Name\"=\"torn";
  RegistryValue value;
  ASSERT_TRUE(registry.ReadValue(RegistryRoot::CurrentUser, "Software\\Killed", "Name", value).ok());
  EXPECT_EQ(value.Text, "old");

  ASSERT_TRUE(registry.SetString(RegistryRoot::CurrentUser, "Software\\Killed", "Other", "new").ok());
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(key)) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{".lock", ".values.reg"}));
  ASSERT_TRUE(registry.ReadValue(RegistryRoot::CurrentUser, "Software\\Killed", "Name", value).ok());
  EXPECT_EQ(value.Text, "old");
  ASSERT_TRUE(registry.ReadValue(RegistryRoot::CurrentUser, "Software\\Killed", "Other", value).ok());
  EXPECT_EQ(value.Text, "new");
}
// One rename takes a deleted key away whole: a delete killed half-way leaves
// the key or nothing that reads as one, and the next delete clears the rest.
TEST(RegistryStoreTest, ADeletedKeyGoesAtOnceAndWhatAKillLeftIsCleared) {
  volok::testing::TempFolder scratch;
  std::filesystem::path store = scratch.Native("registry");
  ScopedVariable dir("VOLOK_REGISTRY_DIR", store.c_str());
  Registry& registry = Registry::Default();
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  for (const char* name : {"\\App\\Sub", "\\Other"})
    ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, uninstall + name).ok());
  std::filesystem::path parent = store / "HKEY_LOCAL_MACHINE" / "Software" / "Microsoft" / "Windows" / "CurrentVersion" / "Uninstall";
  // What a delete killed after its rename left behind.
  std::filesystem::create_directories(parent / ".deleted-77-Gone" / "Sub");
  std::vector<std::string> names;
  ASSERT_TRUE(registry.SubKeys(RegistryRoot::LocalMachine, uninstall, names).ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"App", "Other"}));
  ASSERT_TRUE(registry.DeleteKeyTree(RegistryRoot::LocalMachine, uninstall + "\\App").ok());
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(parent)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"Other"});
}
#endif

}  // namespace
}  // namespace volok::platform
