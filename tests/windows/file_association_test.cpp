#include "integration/file_association.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "support/registry.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

const char kInstallDir[] = "C:\\Program Files (x86)\\Tarkweller\\Velmorix";
const char kProgramCommandKey[] = "Applications\\Velmorix.exe\\shell\\open\\command";
const char kOpenWithKey[] = ".qzp\\OpenWithList\\Velmorix.exe";
const char kClassCommandKey[] = "qzl\\shell\\open\\command";
const char kClassIconKey[] = "qzl\\DefaultIcon";

class FileAssociationTest : public testing::Test {
 protected:
  void SetUp() override {
    RemoveKeys();
    CopyPath(installDir_, kInstallDir);
  }
  void TearDown() override { RemoveKeys(); }

  static void RemoveKeys() {
    DeleteKeyTree(HKEY_CLASSES_ROOT, "", ".qzp", KEY_WOW64_64KEY);
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Applications", "Velmorix.exe", KEY_WOW64_64KEY);
    DeleteKeyTree(HKEY_CLASSES_ROOT, "", "qzl", KEY_WOW64_64KEY);
  }
  // A key made volatile first cannot take the non-volatile keys the step creates
  // under it (ERROR_CHILD_MUST_BE_VOLATILE).
  static void MakeVolatile(const char* path) {
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
  }
  static StoredValue Read(const char* path, const char* name) {
    return ReadStoredValue(HKEY_CLASSES_ROOT, path, name, KEY_WOW64_64KEY);
  }
  static bool Exists(const char* path) { return KeyExists(HKEY_CLASSES_ROOT, path, KEY_WOW64_64KEY); }
  static void ExpectText(const char* path, const char* name, const std::string& text) {
    const StoredValue value = Read(path, name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << path << " " << name;
    EXPECT_EQ(value.bytes, Terminated(text)) << path << " " << name;
  }

  bool Register() { return RegisterFileAssociation(true, installDir_, progress_); }

  char installDir_[kPathCapacity] = {};
  enginetest::RecordingProgress progress_;
};

TEST_F(FileAssociationTest, WritesTheFiveKeysWithQuotedOpenCommands) {
  ASSERT_TRUE(Register());
  EXPECT_STREQ(progress_.LastFailureText(), "");

  const std::string exe = std::string(kInstallDir) + "\\Velmorix.exe";
  ExpectText(".qzp", "", "VELMORIX.qzp");
  ExpectText(".qzp", "Content Type", texts::kPackageContentType);
  ExpectText(".qzp", "PerceivedType", "package");
  ExpectText(kProgramCommandKey, "", "\"" + exe + "\" \"%1\"");
  ExpectText(kClassCommandKey, "", "\"" + exe + "\" \"%1\"");
  ExpectText(kClassIconKey, "", exe + ",0");

  UniqueKey openWith;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kOpenWithKey, 0, KEY_READ | KEY_WOW64_64KEY,
                          openWith.Receive()),
            ERROR_SUCCESS);
  DWORD subKeys = 1, values = 1;
  ASSERT_EQ(RegQueryInfoKeyA(openWith.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);
  EXPECT_FALSE(Exists("VELMORIX.qzp"));  // no class key of that name is created
}

TEST_F(FileAssociationTest, FailingKeysDoNotStopTheOthers) {
  MakeVolatile("qzl");

  EXPECT_FALSE(Register());
  EXPECT_STREQ(progress_.LastFailureText(), texts::kRegistryKeyFailed);
  EXPECT_FALSE(Exists(kClassCommandKey));
  EXPECT_FALSE(Exists(kClassIconKey));
  ExpectText(".qzp", "PerceivedType", "package");
  EXPECT_TRUE(Exists(kOpenWithKey));
  EXPECT_TRUE(Read(kProgramCommandKey, "").present);
}

TEST_F(FileAssociationTest, TheLastFailureMessageRemains) {
  // Program path of 250 + 13 characters: the command and icon texts do not fit
  // and are not written cut.
  CopyPath(installDir_, ("C:\\" + std::string(247, 'v')).c_str());

  // Key 2 fails, then keys 3 to 5 fail their values.
  MakeVolatile(".qzp");
  EXPECT_FALSE(Register());
  EXPECT_STREQ(progress_.LastFailureText(), texts::kAssociationValuesFailed);
  EXPECT_FALSE(Exists(kOpenWithKey));
  ExpectText(".qzp", "", "VELMORIX.qzp");
  EXPECT_FALSE(Read(kProgramCommandKey, "").present);
  EXPECT_FALSE(Read(kClassIconKey, "").present);

  // Key 3 fails its value, then keys 4 and 5 cannot be created.
  RemoveKeys();
  MakeVolatile("qzl");
  EXPECT_FALSE(Register());
  EXPECT_STREQ(progress_.LastFailureText(), texts::kRegistryKeyFailed);
  EXPECT_TRUE(Exists(kOpenWithKey));
  EXPECT_FALSE(Read(kProgramCommandKey, "").present);
}

TEST_F(FileAssociationTest, RemovalPutsBackWhatTheWriteReplaced) {
  // Before: another program's .qzp class and a key of its own under Applications.
  UniqueKey earlier;
  ASSERT_EQ(CreateKeyForWriting(HKEY_CLASSES_ROOT, ".qzp", KEY_WRITE | KEY_WOW64_64KEY, earlier), ERROR_SUCCESS);
  ASSERT_EQ(WriteTextValue(earlier.Get(), "", "Other.qzp"), ERROR_SUCCESS);
  earlier.Reset();
  ASSERT_EQ(CreateKeyForWriting(HKEY_CLASSES_ROOT, "Applications\\VelmorixTestOther.exe", KEY_WRITE | KEY_WOW64_64KEY,
                                earlier),
            ERROR_SUCCESS);
  earlier.Reset();

  ReplacedKey recorded[kAssociationKeyCount];
  ASSERT_EQ(RecordAssociationReplaced(true, recorded), ERROR_SUCCESS);
  // Kept packed (as a run's journal keeps it) and read back: the removal works from
  // the copy. A record cut anywhere is refused, never read past its end.
  ReplacedKey replaced[kAssociationKeyCount];
  for (std::size_t i = 0; i < kAssociationKeyCount; ++i) {
    std::vector<unsigned char> packed(kPackedKeyCapacity);
    const std::size_t size = PackReplacedKey(recorded[i], packed.data(), packed.size());
    ASSERT_GT(size, 0u);
    EXPECT_EQ(PackReplacedKey(recorded[i], packed.data(), size - 1), 0u) << "too small a buffer";
    packed.resize(size);
    for (std::size_t cut = 0; cut < size; ++cut) {
      const std::vector<unsigned char> part(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_EQ(UnpackReplacedKey(part.data(), part.size(), replaced[i]), 0u) << "key " << i << " cut at " << cut;
    }
    ASSERT_EQ(UnpackReplacedKey(packed.data(), packed.size(), replaced[i]), size);
  }
  EXPECT_EQ(replaced[0].createdLevels, 0u);
  EXPECT_TRUE(replaced[0].values[0].existed);
  EXPECT_FALSE(replaced[0].values[1].existed);
  EXPECT_EQ(replaced[1].createdLevels, 2u);  // OpenWithList and Velmorix.exe
  EXPECT_EQ(replaced[2].createdLevels, 4u);  // all but Applications
  EXPECT_EQ(replaced[3].createdLevels, 4u);
  ASSERT_TRUE(Register());

  const RemovalResult removed = RemoveFileAssociation(true, kInstallDir, replaced);
  EXPECT_EQ(removed.outcome, Removal::Removed);
  ExpectText(".qzp", "", "Other.qzp");
  EXPECT_FALSE(Read(".qzp", "Content Type").present);
  EXPECT_FALSE(Read(".qzp", "PerceivedType").present);
  EXPECT_FALSE(Exists(".qzp\\OpenWithList"));
  EXPECT_FALSE(Exists("Applications\\Velmorix.exe"));
  EXPECT_FALSE(Exists("qzl"));
  EXPECT_TRUE(Exists("Applications\\VelmorixTestOther.exe"));
  DeleteKeyTree(HKEY_CLASSES_ROOT, "Applications", "VelmorixTestOther.exe", KEY_WOW64_64KEY);
  // Once more: what stands there now is the other program's.
  EXPECT_EQ(RemoveFileAssociation(true, kInstallDir, replaced).outcome, Removal::NotOurs);
  ExpectText(".qzp", "", "Other.qzp");
}

TEST_F(FileAssociationTest, RemovalLeavesWhatAnotherProgramTookOver) {
  ASSERT_TRUE(Register());
  UniqueKey taken;
  ASSERT_EQ(CreateKeyForWriting(HKEY_CLASSES_ROOT, kClassCommandKey, KEY_WRITE | KEY_WOW64_64KEY, taken),
            ERROR_SUCCESS);
  ASSERT_EQ(WriteTextValue(taken.Get(), "", "other.exe \"%1\""), ERROR_SUCCESS);
  taken.Reset();

  // No record: every value still as written goes, with the keys only it used.
  const RemovalResult removed = RemoveFileAssociation(true, kInstallDir, nullptr);
  EXPECT_EQ(removed.outcome, Removal::NotOurs);
  ExpectText(kClassCommandKey, "", "other.exe \"%1\"");
  EXPECT_FALSE(Exists(kClassIconKey));
  EXPECT_FALSE(Exists(".qzp"));
  EXPECT_FALSE(Exists("Applications\\Velmorix.exe"));
  EXPECT_TRUE(Exists("Applications"));
}

}  // namespace
