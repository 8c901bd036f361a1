#include "packer/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/archive_reader.h"

namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ArchiveWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("velmorix_writer_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "tree");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Tree() const { return root_ / "tree"; }
  fs::path Output(const char* name) const { return root_ / name; }

  // A file of size bytes whose content tells entries apart.
  void File(const fs::path& relative, std::size_t size, char fill = 'x') {
    fs::create_directories((Tree() / relative).parent_path());
    std::ofstream(Tree() / relative, std::ios::binary) << std::string(size, fill);
  }

  // Packing fails naming the file, and leaves neither an archive nor a temporary file.
  void ExpectRefused(const std::string& nameInMessage) {
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(PackFolder(Tree(), Output("out.bin"), &warnings, &error));
    EXPECT_NE(error.find(nameInMessage), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Output("out.bin")));
    EXPECT_FALSE(fs::exists(Output("out.bin.partial")));
  }

  fs::path root_;
};

TEST_F(ArchiveWriter, PackedTreeReadsBackInWalkOrderWithExactFields) {
  File("a_dir/x.dat", 129, 'd');
  File("a_dir/deep/y.txt", 1, 'y');
  File("b.txt", 128, 'b');
  File("_first.txt", 3, '_');
  File("aZ.txt", 127, 'z');
  File("A.txt", 0);
  File(u8"Привет.txt", 5, 'p');
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(PackFolder(Tree(), Output("out.bin"), &warnings, &error)) << error;
  EXPECT_TRUE(warnings.empty());

  const auto bytes = ReadBytes(Output("out.bin"));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(bytes.data(), bytes.size(), &view), ArchiveError::None);
  // Upper-case order: '.' < 'Z' < '_' < Cyrillic; a folder's files at the folder's place.
  const struct {
    const char* relativeFolder;
    const char* name;
    std::uint64_t size;
    char fill;
  } expected[] = {{"\\", "A.txt", 0, 0},        {"\\", "aZ.txt", 127, 'z'},
                  {"\\a_dir\\deep\\", "y.txt", 1, 'y'}, {"\\a_dir\\", "x.dat", 129, 'd'},
                  {"\\", "b.txt", 128, 'b'},    {"\\", "_first.txt", 3, '_'},
                  {"\\", "\xCF\xF0\xE8\xE2\xE5\xF2.txt", 5, 'p'}};
  ASSERT_EQ(view.count, 7);
  const std::string rootText = WinePath(Tree().string());
  std::size_t data = view.dataOffset;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const auto& want = expected[i];
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    EXPECT_STREQ(entry.relativeFolder, want.relativeFolder) << i;
    EXPECT_STREQ(PayloadFileName(entry), want.name) << i;
    std::string folder = want.relativeFolder;
    folder.pop_back();
    EXPECT_EQ(std::string(entry.sourcePath), rootText + folder + "\\" + want.name) << i;
    EXPECT_EQ(entry.size, want.size) << i;
    // Both text fields are zero-filled after their text.
    const unsigned char* record = bytes.data() + 4 + kPayloadEntrySize * static_cast<std::size_t>(i);
    for (std::size_t k = std::strlen(entry.sourcePath); k < kPayloadTextSize; ++k) ASSERT_EQ(record[k], 0) << i;
    for (std::size_t k = std::strlen(entry.relativeFolder); k < kPayloadTextSize; ++k)
      ASSERT_EQ(record[kPayloadTextSize + k], 0) << i;
    EXPECT_EQ(std::string(bytes.begin() + static_cast<long>(data), bytes.begin() + static_cast<long>(data + want.size)),
              std::string(want.size, want.fill))
        << i;
    data += want.size;
  }
  EXPECT_EQ(rootText.substr(0, 3), "Z:\\");
  EXPECT_EQ(rootText.find('/'), std::string::npos);
}

TEST_F(ArchiveWriter, CodePage1251ConversionCoversTheWholeCodePage) {
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == 0x98) continue;  // unassigned in 1251
    const std::string one(1, static_cast<char>(byte));
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(Cp1251ToUtf8(one), &back)) << byte;
    EXPECT_EQ(back, one) << byte;
  }
  std::string out;
  ASSERT_TRUE(Utf8ToCp1251(u8"Ёё№€", &out));
  EXPECT_EQ(out, "\xA8\xB8\xB9\x88");
  for (const char* bad : {u8"日本", u8"ä", "\xC0\xAF", "\x80", "\xD0", "\xED\xA0\x80"})
    EXPECT_FALSE(Utf8ToCp1251(bad, &out)) << bad;
  EXPECT_EQ(Cp1251Upper("az_\xE0\xFF\xB8\xA8"), "AZ_\xC0\xDF\xA8\xA8");
}

TEST_F(ArchiveWriter, RefusesNamesAndPathsWindowsCannotTake) {
  File(u8"日本.txt", 1);
  ExpectRefused(u8"日本.txt");
  fs::remove(Tree() / u8"日本.txt");
  for (const char* bad : {"a:b.txt", "nul.txt", "trail.", "a\x01"}) {
    File(bad, 1);
    ExpectRefused(bad);
    fs::remove(Tree() / bad);
  }
  // Over 259 characters: the relative folder and the source path both count.
  const std::string longName(200, 'n');
  File(fs::path(longName) / longName.substr(0, 100) / "f.txt", 1);
  ExpectRefused("f.txt");
}

TEST_F(ArchiveWriter, LinksInsideTheTreeAreFollowedOthersRefused) {
  File("real.txt", 4, 'r');
  fs::create_symlink(Tree() / "real.txt", Tree() / "alias.txt");
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(PackFolder(Tree(), Output("out.bin"), &warnings, &error)) << error;
  const auto bytes = ReadBytes(Output("out.bin"));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(bytes.data(), bytes.size(), &view), ArchiveError::None);
  ASSERT_EQ(view.count, 2);
  EXPECT_STREQ(PayloadFileName(ReadPayloadEntry(view, 0)), "alias.txt");
  EXPECT_EQ(ReadPayloadEntry(view, 0).size, 4u);
  fs::remove(Output("out.bin"));

  std::ofstream(Output("outside.txt")) << "secret";
  fs::create_symlink(Output("outside.txt"), Tree() / "escape.txt");
  ExpectRefused("escape.txt");
  fs::remove(Tree() / "escape.txt");
  fs::create_directories(Tree() / "sub");
  fs::create_directory_symlink(Tree(), Tree() / "sub" / "loop");
  ExpectRefused("loop");
}

TEST_F(ArchiveWriter, FileLimitAndEmptyFoldersAndExistingArchive) {
  fs::create_directories(Tree() / "nothing");
  File("one.txt", 1);
  std::ofstream(Output("out.bin")) << "old";
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(PackFolder(Tree(), Output("out.bin"), &warnings, &error)) << error;
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("nothing"), std::string::npos);
  EXPECT_EQ(ReadBytes(Output("out.bin")).size(), 4 + kPayloadEntrySize + 1);

  // Over the limit: refused, and an archive from an earlier run stays as it was.
  std::ofstream(Output("out.bin"), std::ios::trunc) << "old";
  for (int i = 0; i < 1000; ++i) File("many/f" + std::to_string(i), 0);
  EXPECT_FALSE(PackFolder(Tree(), Output("out.bin"), &warnings, &error));
  EXPECT_NE(error.find("more than 1000 files"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(Output("out.bin")), std::vector<unsigned char>({'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(Output("out.bin.partial")));

  // One folder within the limit, but not together with the other.
  fs::remove(Tree() / "one.txt");
  fs::create_directories(Output("work"));
  std::ofstream(Output("work") / "w.txt") << "w";
  EXPECT_FALSE(PackFolderPair(Tree(), Output("work"), Output("p.bin"), Output("w.bin"), &warnings, &error));
  EXPECT_NE(error.find("1001"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Output("p.bin")));
  EXPECT_FALSE(fs::exists(Output("w.bin")));
  fs::remove(Tree() / "many" / "f0");
  EXPECT_TRUE(PackFolderPair(Tree(), Output("work"), Output("p.bin"), Output("w.bin"), &warnings, &error)) << error;
  EXPECT_EQ(ReadBytes(Output("w.bin")).size(), 4 + kPayloadEntrySize + 1);
}

// Runs the built tool; returns its exit status and its standard output.
int RunTool(const std::string& arguments, std::string* output) {
  const std::string command = std::string("'") + VELMORIX_PACK_TOOL + "' " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  output->clear();
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) *output += buffer;
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ArchiveWriter, CommandLineExitCodes) {
  File("sub/x.txt", 3);
  const std::string tree = "'" + Tree().string() + "'";
  const std::string archive = "'" + Output("out.bin").string() + "'";
  std::string out;
  EXPECT_EQ(RunTool("pack " + tree + " " + archive, &out), 0);
  EXPECT_EQ(RunTool("verify " + archive, &out), 0);
  EXPECT_NE(out.find("OK"), std::string::npos) << out;
  EXPECT_EQ(RunTool("list " + archive, &out), 0);
  EXPECT_NE(out.find("1 entries\n\\sub\\x.txt\t3\n"), std::string::npos) << out;

  std::ofstream(Output("out.bin"), std::ios::app) << "!";  // one byte too many
  EXPECT_EQ(RunTool("verify " + archive, &out), 1);
  EXPECT_NE(out.find("bytes follow"), std::string::npos) << out;
  std::fstream(Output("out.bin"), std::ios::in | std::ios::out | std::ios::binary).seekp(4 + 260) << "x";
  EXPECT_EQ(RunTool("verify " + archive, &out), 1);
  EXPECT_NE(out.find("entry 0"), std::string::npos) << out;
  EXPECT_EQ(RunTool("list " + archive, &out), 1);

  File("a:b", 1);
  EXPECT_EQ(RunTool("pack " + tree + " '" + Output("new.bin").string() + "'", &out), 1);
  EXPECT_FALSE(fs::exists(Output("new.bin")));
  EXPECT_EQ(RunTool("pack " + tree, &out), 2);
  EXPECT_EQ(RunTool("unpack " + archive, &out), 2);
}

}  // namespace
