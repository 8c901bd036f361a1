#include "engine/archive_reader.h"
#include "engine/payload_archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/payload_archive.h"

namespace {

using RawEntry = testsupport::ArchiveEntry;
using testsupport::StoredArchive;
using testsupport::PutLe;

ArchiveError Validate(const std::vector<unsigned char>& bytes, std::int32_t* failedEntry = nullptr) {
  return ValidateArchive(bytes.data(), bytes.size(), nullptr, failedEntry);
}

TEST(ArchiveReader, ValidArchiveIsWalkedEntryByEntry) {
  const auto bytes = StoredArchive({{"Z:\\build\\bin\\Velmorix.exe", "\\", 3},
                              {"Z:\\build\\bin\\platforms\\display.dll", "\\platforms\\", 0},
                              {"bare.txt", "\\a\\b\\", 2}},
                             "abcde");
  ArchiveView view;
  std::int32_t failed = 7;
  ASSERT_EQ(ValidateArchive(bytes.data(), bytes.size(), &view, &failed), ArchiveError::None);
  EXPECT_EQ(failed, -1);
  EXPECT_EQ(view.count, 3);
  EXPECT_EQ(view.dataOffset, 4 + 3 * kPayloadEntrySize);
  const PayloadEntry second = ReadPayloadEntry(view, 1);
  EXPECT_STREQ(PayloadFileName(second), "display.dll");
  EXPECT_STREQ(second.relativeFolder, "\\platforms\\");
  EXPECT_EQ(second.size, 0u);
  const PayloadEntry third = ReadPayloadEntry(view, 2);
  EXPECT_STREQ(PayloadFileName(third), "bare.txt");  // no backslash: the whole text
  EXPECT_EQ(third.size, 2u);

  const auto empty = StoredArchive({}, "");
  EXPECT_EQ(ValidateArchive(empty.data(), empty.size(), &view), ArchiveError::None);
  EXPECT_EQ(view.count, 0);
}

TEST(ArchiveReader, DamagedLayoutIsRefusedWithTheEntryAtFault) {
  const unsigned char three[3] = {};
  EXPECT_EQ(ValidateArchive(three, sizeof(three), nullptr), ArchiveError::TooSmall);
  EXPECT_EQ(ValidateArchive(nullptr, 16, nullptr), ArchiveError::TooSmall);
  EXPECT_EQ(Validate(StoredArchive({}, std::string(600, '\0'), 0x80000000u)), ArchiveError::NegativeCount);
  EXPECT_EQ(Validate(StoredArchive({}, std::string(600, '\0'), 0xFFFFFFFEu)), ArchiveError::NegativeCount);
  EXPECT_EQ(Validate(StoredArchive({}, std::string(527, '\0'), 1)), ArchiveError::TableOverrun);
  EXPECT_EQ(Validate(StoredArchive({}, std::string(528, '\0'), 0x7FFFFFFF)), ArchiveError::TableOverrun);

  std::int32_t failed = 0;
  const std::vector<RawEntry> two = {{"a", "\\", 2}, {"b", "\\", 3}};
  EXPECT_EQ(Validate(StoredArchive(two, "abcd"), &failed), ArchiveError::DataOverrun);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(Validate(StoredArchive(two, "abcdef"), &failed), ArchiveError::TrailingBytes);
  EXPECT_EQ(failed, -1);
  EXPECT_EQ(Validate(StoredArchive({}, "x"), &failed), ArchiveError::TrailingBytes);

  // Sizes whose 64-bit sum wraps round to the data area's length must not pass.
  EXPECT_EQ(Validate(StoredArchive({{"a", "\\", ~0ull}, {"b", "\\", 2}}, "a"), &failed), ArchiveError::DataOverrun);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(Validate(StoredArchive({{"a", "\\", 1ull << 63}, {"b", "\\", 1ull << 63}}, ""), &failed),
            ArchiveError::DataOverrun);
}

TEST(ArchiveReader, UnterminatedTextFieldsAreRefused) {
  std::int32_t failed = 0;
  EXPECT_EQ(Validate(StoredArchive({{"ok", "\\", 0}, {std::string(260, 'x'), "\\", 0}}, ""), &failed),
            ArchiveError::UnterminatedText);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(Validate(StoredArchive({{"ok", "\\" + std::string(259, 'x'), 0}}, "")), ArchiveError::UnterminatedText);
  // 259 characters and the terminator fill a field exactly.
  EXPECT_EQ(Validate(StoredArchive({{std::string(259, 'x'), "\\" + std::string(257, 'y') + "\\", 0}}, "")),
            ArchiveError::None);
}

TEST(ArchiveReader, RelativeFoldersThatLeaveOrMisnameTheDestinationAreRefused) {
  for (const char* good : {"\\", "\\a\\", "\\platforms\\x86\\", "\\..a\\", "\\CONFIG\\", "\\com\xB4\\"}) {
    EXPECT_EQ(Validate(StoredArchive({{"f.txt", good, 0}}, "")), ArchiveError::None) << good;
  }
  for (const char* bad : {"", "a\\", "\\a", "\\\\", "\\a\\\\b\\", "\\..\\", "\\.\\", "\\a\\..\\", "\\C:\\",
                          "C:\\a\\", "\\a/b\\", "\\a*\\", "\\a?\\", "\\a\"\\", "\\a<\\", "\\a>\\", "\\a|\\",
                          "\\a\x01\\", "\\dir.\\", "\\dir \\", "\\con\\", "\\Lpt9.x\\", "\\com0\\"}) {
    std::int32_t failed = -1;
    EXPECT_EQ(Validate(StoredArchive({{"f.txt", "\\", 0}, {"f.txt", bad, 0}}, ""), &failed),
              ArchiveError::BadRelativeFolder)
        << bad;
    EXPECT_EQ(failed, 1);
  }
}

TEST(ArchiveReader, FileNamesThatCannotLandInTheFolderAreRefused) {
  for (const char* good : {"Z:\\bin\\Velmorix.exe", "name", "Z:\\\xCF\xF0\xE8\xE2\xE5\xF2.txt", "nullable.txt",
                           "com10.txt", "a..b"}) {
    EXPECT_EQ(Validate(StoredArchive({{good, "\\", 0}}, "")), ArchiveError::None) << good;
  }
  for (const char* bad : {"", "Z:\\dir\\", "..", "Z:\\dir\\.", "Z:\\dir\\..", "C:file", "a/b", "a\tb", "name.",
                          "name ", "NUL", "nul.txt", "Con .log", "aux", "PRN.dat", "COM1", "lpt3.txt", "x|y",
                          // Names Windows also takes for devices: port 0, the console's two
                          // sides, and ports numbered with superscript digits (code page 1252
                          // reads the bytes 0xB9, 0xB2, 0xB3 so).
                          "COM0", "lpt0.txt", "CONIN$", "conout$.log", "COM\xB9", "lpt\xB2.txt", "Com\xB3"}) {
    EXPECT_EQ(Validate(StoredArchive({{bad, "\\", 0}}, "")), ArchiveError::BadFileName) << bad;
  }
}

TEST(ArchiveReader, ShortNamesBesideTheLongNameTheyStandForAreRefused) {
  const struct {
    const char* a;
    const char* b;
    bool alias;
  } pairs[] = {
      {"ABCDEF~1.TXT", "abcdefghij.txt", true},
      {"abcdef~2.txt", "ABCDEFGHIJ.TXT", true},   // any number, any case
      {"PROGRA~1", "Program Files", true},        // the space goes
      {"MYDOCS~1.HTM", "my.docs.file.html", true},  // so do all dots but the last
      {"AB12C4~5.TXT", "abcdefghij.txt", true},   // the hashed form of later names
      // ПРИВЕТ~1.TXT beside приветствие.txt
      {"\xCF\xD0\xC8\xC2\xC5\xD2~1.TXT", "\xEF\xF0\xE8\xE2\xE5\xF2\xF1\xF2\xE2\xE8\xE5.txt", true},
      {"ABCDEF~1.TXT", "abcdef.txt", false},       // a plain 8.3 name has no ~N form
      {"ABCDEF~1.TXT", "abcdefghij.dat", false},   // other extension
      {"ABCDEF~1.TXT", "xbcdefghij.txt", false},
      {"ABCDEF~.TXT", "abcdefghij.txt", false},    // no digit: not a short name
      {"ABCDEFGH~1.TXT", "abcdefghijkl.txt", false},  // over 8 before the dot
      {"abcdefghij.txt", "abcdefghik.txt", false},
  };
  for (const auto& pair : pairs) {
    const char* a = pair.a;
    const char* b = pair.b;
    EXPECT_EQ(PayloadNamesAlias(a, a + std::strlen(a), b, b + std::strlen(b)), pair.alias) << a << " " << b;
    EXPECT_EQ(PayloadNamesAlias(b, b + std::strlen(b), a, a + std::strlen(a)), pair.alias) << b << " " << a;
  }

  // In an archive: files of one folder, and folders of one parent (compared without
  // regard to case); the same names in different folders are apart.
  std::int32_t failed = -1;
  EXPECT_EQ(Validate(StoredArchive({{"Z:\\b\\abcdefghij.txt", "\\d\\", 0}, {"x", "\\", 0},
                              {"Z:\\ABCDEF~1.TXT", "\\D\\", 0}},
                             ""),
                     &failed),
            ArchiveError::AliasedName);
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(Validate(StoredArchive({{"f", "\\Program Files\\x\\", 0}, {"g", "\\PROGRA~1\\", 0}}, ""), &failed),
            ArchiveError::AliasedName);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(Validate(StoredArchive({{"abcdefghij.txt", "\\a\\", 0}, {"ABCDEF~1.TXT", "\\b\\", 0},
                              {"f", "\\Program Files\\", 0}, {"g", "\\x\\PROGRA~1\\", 0}},
                             "")),
            ArchiveError::None);
}

TEST(ArchiveReader, TwoEntriesWithOneDestinationAreRefused) {
  std::int32_t failed = -1;
  // The same file twice, its names apart only in case (Latin and Cyrillic, ђ and Ђ too).
  EXPECT_EQ(Validate(StoredArchive({{"a", "\\", 0}, {"Readme.TXT", "\\Docs\\", 0}, {"README.txt", "\\docs\\", 0}}, ""),
                     &failed),
            ArchiveError::DuplicateDestination);
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(Validate(StoredArchive({{"\xE4\xE0\xED\xED\xFB\x90", "\\", 0}, {"\xC4\xC0\xCD\xCD\xDB\x80", "\\", 0}}, "")),
            ArchiveError::DuplicateDestination);
  // A file where another entry's folder goes.
  EXPECT_EQ(Validate(StoredArchive({{"x", "\\lib\\sub\\", 0}, {"SUB", "\\Lib\\", 0}}, ""), &failed),
            ArchiveError::DuplicateDestination);
  EXPECT_EQ(failed, 1);
  // One folder reached by many entries under any case, and one name in two folders, are fine.
  EXPECT_EQ(Validate(StoredArchive({{"a", "\\lib\\", 0}, {"b", "\\LIB\\", 0}, {"a", "\\lib\\sub\\", 0}}, "")),
            ArchiveError::None);
}

// Validation once compared every short name with every entry: 1,000 entries took
// seconds. Names of the short form beside long names that nearly match them (other
// extension, other prefix) are the worst case for any index.
TEST(ArchiveReader, ThousandsOfEntriesAreCheckedInNLogNTime) {
  constexpr int kPairs = 2500;
  std::vector<RawEntry> entries;
  for (int i = 0; i < kPairs; ++i) {
    char number[8];
    std::snprintf(number, sizeof(number), "%04d", i);
    entries.push_back({std::string("Q") + number + "~1.TXT", "\\AB12C4~1\\", 0});
    entries.push_back({std::string("q") + number + "longname.dat", "\\AB12C4~1\\", 0});
    entries.push_back({std::string("r") + number + "longname.txt", "\\abxdefghij.d\\", 0});
  }
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Validate(StoredArchive(entries, "")), ArchiveError::None);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1500);

  std::int32_t failed = -1;
  entries.push_back({"Q1234 longer.txt", "\\ab12c4~1\\", 0});
  EXPECT_EQ(Validate(StoredArchive(entries, ""), &failed), ArchiveError::AliasedName);
  EXPECT_EQ(failed, 3 * 1234) << "the short name the long one stands beside";
  entries.back() = {"Q0007LONGNAME.DAT", "\\ab12c4~1\\", 0};
  EXPECT_EQ(Validate(StoredArchive(entries, ""), &failed), ArchiveError::DuplicateDestination);
  EXPECT_EQ(failed, 3 * kPairs);
}

}  // namespace
