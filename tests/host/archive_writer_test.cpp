#include "packer/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/payload_checksum.h"
#include "support/payload_archive.h"

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

  // p.bin, w.bin and sums.bin of a tree with one file of `size` bytes (sub\x.txt) and a
  // work tree with one (w.txt, "work").
  ::testing::AssertionResult PackOneFilePair(std::size_t size) {
    File("sub/x.txt", size, 'x');
    fs::create_directories(Output("work"));
    std::ofstream(Output("work") / "w.txt") << "work";
    std::string error;
    if (PackPair(Tree(), Output("work"), &error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
  }

  // Packing fails naming the file, and leaves neither an archive nor a partial file.
  void ExpectRefused(const std::string& nameInMessage) {
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(PackFolder(Tree(), Output("out.bin"), &warnings, &error));
    EXPECT_NE(error.find(nameInMessage), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Output("out.bin")));
    ExpectNoPartialFile();
  }

  void ExpectNoPartialFile() {
    for (const auto& item : fs::directory_iterator(root_))
      EXPECT_EQ(item.path().filename().string().find(".partial"), std::string::npos) << item.path();
  }

  bool PackPair(const fs::path& program, const fs::path& work, std::string* error, const char* programArchive = "p.bin",
                const char* workArchive = "w.bin", const char* sums = "sums.bin") {
    std::vector<std::string> warnings;
    return PackFolderPair(program, work, Output(programArchive), Output(workArchive), Output(sums), &warnings, error);
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
  for (const char* bad : {"a:b.txt", "nul.txt", "trail.", "a\x01", "COM0", "CONIN$", "conout$.txt", u8"COM\u2116",
                          u8"lpt\u0406.txt", u8"com\u0456"}) {
    File(bad, 1);
    ExpectRefused(bad);
    fs::remove(Tree() / bad);
  }
  // Over 259 characters: the relative folder and the source path both count.
  // A short (8.3) name beside the long name it stands for, files or folders.
  File("abcdefghij.txt", 1);
  File("ABCDEF~1.TXT", 1);
  ExpectRefused("ABCDEF~1.TXT");
  fs::remove(Tree() / "abcdefghij.txt");
  fs::remove(Tree() / "ABCDEF~1.TXT");
  File("Program Files/a", 1);
  File("PROGRA~1/b", 1);
  ExpectRefused("PROGRA~1");
  fs::remove_all(Tree() / "PROGRA~1");
  fs::remove_all(Tree() / "Program Files");
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
  EXPECT_FALSE(PackPair(Tree(), Output("work"), &error));
  EXPECT_NE(error.find("1001"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Output("p.bin")));
  EXPECT_FALSE(fs::exists(Output("w.bin")));
  EXPECT_FALSE(fs::exists(Output("sums.bin")));
  fs::remove(Tree() / "many" / "f0");
  EXPECT_TRUE(PackPair(Tree(), Output("work"), &error)) << error;
  EXPECT_EQ(ReadBytes(Output("w.bin")).size(), 4 + kPayloadEntrySize + 1);
  // The checksum file: the CRC-32 of each archive as written.
  const auto program = ReadBytes(Output("p.bin"));
  const auto work = ReadBytes(Output("w.bin"));
  const auto sums = ReadBytes(Output("sums.bin"));
  EXPECT_TRUE(
      PayloadChecksumsMatch(sums.data(), sums.size(), program.data(), program.size(), work.data(), work.size()));
  ExpectNoPartialFile();
}

TEST_F(ArchiveWriter, OutputsInsideAPackedFolderOrNamedTwiceAreRefusedBeforeAnythingIsWritten) {
  File("a.txt", 1);
  fs::create_directories(Output("work"));
  std::ofstream(Output("work") / "w.txt") << "w";
  fs::create_directory_symlink(root_, Output("alias"));  // another road to the same folder
  std::string error;
  const struct {
    const char* program;
    const char* work;
    const char* sums;
    const char* message;
  } refused[] = {
      {"tree/p.bin", "w.bin", "sums.bin", "inside the packed folder"},
      {"p.bin", "w.bin", "work/sums.bin", "inside the packed folder"},
      {"p.bin", "alias/work/w.bin", "sums.bin", "inside the packed folder"},
      {"p.bin", "p.bin", "sums.bin", "named twice"},
      {"p.bin", "w.bin", "alias/p.bin", "named twice"},
      {"p.bin", "work", "sums.bin", "is a folder"},
  };
  for (const auto& outputs : refused) {
    EXPECT_FALSE(PackPair(Tree(), Output("work"), &error, outputs.program, outputs.work, outputs.sums));
    EXPECT_NE(error.find(outputs.message), std::string::npos) << error;
    for (const char* name : {"p.bin", "w.bin", "sums.bin", "tree/p.bin", "work/sums.bin"})
      EXPECT_FALSE(fs::exists(Output(name))) << name;
    ExpectNoPartialFile();
  }
  std::vector<std::string> warnings;
  EXPECT_FALSE(PackFolder(Tree(), Tree() / "sub" / "self.bin", &warnings, &error));
  EXPECT_NE(error.find("inside the packed folder"), std::string::npos) << error;
}

TEST_F(ArchiveWriter, PartialAndFinalFilesAreNeverWrittenThroughALink) {
  File("a.txt", 3);
  std::ofstream(Output("victim")) << "keep";
  // Links where an earlier version put its partial file and where the archive goes.
  fs::create_symlink(Output("victim"), Output("out.bin.partial"));
  fs::create_symlink(Output("victim"), Output("out.bin"));
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(PackFolder(Tree(), Output("out.bin"), &warnings, &error)) << error;
  EXPECT_EQ(ReadBytes(Output("victim")), std::vector<unsigned char>({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::is_symlink(Output("out.bin")));
  EXPECT_EQ(ReadBytes(Output("out.bin")).size(), 4 + kPayloadEntrySize + 3);
  EXPECT_TRUE(fs::is_symlink(Output("out.bin.partial")));
}

TEST_F(ArchiveWriter, EachRealFolderIsWalkedOnceAndLoopsAreNamedAsLoops) {
  // Two links per level to the next level: 2^24 roads to the deepest folder.
  File("level0/f.txt", 1);
  for (int level = 0; level < 24; ++level) {
    const fs::path here = Tree() / ("level" + std::to_string(level));
    const fs::path next = Tree() / ("level" + std::to_string(level + 1));
    fs::create_directories(next);
    fs::create_directory_symlink(next, here / "x");
    fs::create_directory_symlink(next, here / "y");
  }
  const auto start = std::chrono::steady_clock::now();
  // Refused at the first second road: the deepest folder, through y after x.
  const auto road = [&](const char* last) {
    std::string path = (Tree() / "level0").string();
    for (int level = 1; level < 24; ++level) path += "/x";
    return path + "/" + last;
  };
  ExpectRefused("reached a second time through a symbolic link (it is " + road("x") + ", already packed): " +
                road("y"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  fs::remove_all(Tree());
  fs::create_directories(Tree());

  File("a/f.txt", 1);
  fs::create_symlink(Tree() / "b", Tree() / "a" / "to-b");
  fs::create_symlink(Tree() / "a" / "to-b", Tree() / "b");
  ExpectRefused("loop");
}

TEST_F(ArchiveWriter, PrefixMapWritesTheFolderUnderAFixedRoot) {
  File("sub/x.txt", 1);
  PayloadListing listing;
  std::string error;
  const PrefixMap map = {{"/nowhere", "/elsewhere"}, {root_.string(), "/velmorix"}, {"/", "/short"}};
  ASSERT_TRUE(ListPayloadFolder(Tree(), &listing, &error, map)) << error;
  ASSERT_EQ(listing.files.size(), 1u);
  EXPECT_EQ(listing.files[0].sourcePath, "Z:\\velmorix\\tree\\sub\\x.txt");  // the longest match wins
  ASSERT_TRUE(ListPayloadFolder(Tree(), &listing, &error, {{root_.string() + "/tr", "/no"}})) << error;
  EXPECT_EQ(listing.files[0].sourcePath, WinePath(Tree().string()) + "\\sub\\x.txt");  // whole names only
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
  EXPECT_EQ(RunTool("pack-pair a b c d", &out), 2);  // the checksum file is not optional
  EXPECT_EQ(RunTool("--help", &out), 0);
  EXPECT_NE(out.find("usage: velmorix-pack"), std::string::npos) << out;
}

// The smallest PE file a resource reader can take: headers, one section (.rsrc at RVA
// 0x1000, file offset 0x200) holding type "BINARY" with the given ids, language 1049.
using testsupport::PutLe;
using Resources = std::vector<std::pair<std::uint32_t, std::vector<unsigned char>>>;

std::vector<unsigned char> Executable(const Resources& resources) {
  const std::size_t count = resources.size();
  const std::size_t typeDir = 24, languageDirs = typeDir + 16 + 8 * count, dataEntries = languageDirs + 24 * count;
  const std::size_t name = dataEntries + 16 * count, data = name + 16;
  std::vector<unsigned char> section(data);
  PutLe(&section, 12, 1, 2);  // one named entry
  PutLe(&section, 16, 0x80000000u | static_cast<std::uint32_t>(name), 4);
  PutLe(&section, 20, 0x80000000u | static_cast<std::uint32_t>(typeDir), 4);
  PutLe(&section, typeDir + 14, static_cast<std::uint32_t>(count), 2);
  PutLe(&section, name, 6, 2);
  for (std::size_t i = 0; i < 6; ++i) PutLe(&section, name + 2 + 2 * i, static_cast<unsigned char>("BINARY"[i]), 2);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t languageDir = languageDirs + 24 * i, entry = dataEntries + 16 * i;
    PutLe(&section, typeDir + 16 + 8 * i, resources[i].first, 4);
    PutLe(&section, typeDir + 20 + 8 * i, 0x80000000u | static_cast<std::uint32_t>(languageDir), 4);
    PutLe(&section, languageDir + 14, 1, 2);
    PutLe(&section, languageDir + 16, 1049, 4);
    PutLe(&section, languageDir + 20, static_cast<std::uint32_t>(entry), 4);
    PutLe(&section, entry, static_cast<std::uint32_t>(0x1000 + section.size()), 4);
    PutLe(&section, entry + 4, static_cast<std::uint32_t>(resources[i].second.size()), 4);
    section.insert(section.end(), resources[i].second.begin(), resources[i].second.end());
  }
  std::vector<unsigned char> file(0x200);
  file[0] = 'M', file[1] = 'Z';
  PutLe(&file, 0x3C, 0x40, 4);
  PutLe(&file, 0x40, 0x4550, 4);
  PutLe(&file, 0x44, 0x14C, 2);
  PutLe(&file, 0x46, 1, 2);     // sections
  PutLe(&file, 0x54, 224, 2);   // optional header size
  PutLe(&file, 0x58, 0x10B, 2); // PE32
  PutLe(&file, 0x58 + 92, 16, 4);
  PutLe(&file, 0x58 + 96 + 16, 0x1000, 4);  // resource directory
  PutLe(&file, 0x58 + 96 + 20, static_cast<std::uint32_t>(section.size()), 4);
  const std::size_t header = 0x58 + 224;
  std::memcpy(&file[header], ".rsrc", 5);
  PutLe(&file, header + 8, static_cast<std::uint32_t>(section.size()), 4);
  PutLe(&file, header + 12, 0x1000, 4);
  PutLe(&file, header + 16, static_cast<std::uint32_t>(section.size()), 4);
  PutLe(&file, header + 20, 0x200, 4);
  file.insert(file.end(), section.begin(), section.end());
  return file;
}

TEST_F(ArchiveWriter, ListAndVerifyCheckTheThreeResourcesOfAnInstaller) {
  ASSERT_TRUE(PackOneFilePair(3));
  const auto program = ReadBytes(Output("p.bin"));
  const auto work = ReadBytes(Output("w.bin"));
  const auto sums = ReadBytes(Output("sums.bin"));
  const auto write = [&](const std::vector<unsigned char>& bytes) {
    std::ofstream(Output("setup.exe"), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  const std::string installer = "'" + Output("setup.exe").string() + "'";
  std::string out;

  write(Executable({{109, program}, {110, work}, {111, sums}}));
  EXPECT_EQ(RunTool("verify " + installer, &out), 0) << out;
  EXPECT_NE(out.find("checksums (resource 111) match"), std::string::npos) << out;
  EXPECT_EQ(RunTool("list " + installer, &out), 0) << out;
  EXPECT_NE(out.find("program archive (resource 109): 1 entries\n\\sub\\x.txt\t3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("work archive (resource 110): 1 entries\n\\w.txt\t4\n"), std::string::npos) << out;

  // One flipped byte of a file's data: the layout is sound, the sum is not.
  auto flipped = work;
  flipped[flipped.size() - 2] ^= 0x20;
  write(Executable({{109, program}, {110, flipped}, {111, sums}}));
  EXPECT_EQ(RunTool("verify " + installer, &out), 1);
  EXPECT_NE(out.find("do not match"), std::string::npos) << out;
  EXPECT_EQ(RunTool("list " + installer, &out), 1);

  write(Executable({{109, program}, {110, work}}));
  EXPECT_EQ(RunTool("verify " + installer, &out), 1);
  EXPECT_NE(out.find("resource 111 of type BINARY, language 1049 is missing"), std::string::npos) << out;
  auto truncated = Executable({{109, program}, {110, work}, {111, sums}});
  truncated.resize(truncated.size() - 5);  // resource 111 runs past the end
  write(truncated);
  EXPECT_EQ(RunTool("verify " + installer, &out), 1);
  EXPECT_NE(out.find("outside the file"), std::string::npos) << out;
}

TEST_F(ArchiveWriter, CompressedInstallersAreListedVerifiedFrameByFrameAndRefusedWhenAByteFlips) {
  ASSERT_TRUE(PackOneFilePair(70000));
  std::string out;
  const auto path = [&](const char* name) { return "'" + Output(name).string() + "' "; };
  ASSERT_EQ(RunTool("compress-pair --frame-size=65536 " + path("p.bin") + path("w.bin") + path("p.vxz") +
                        path("w.vxz") + path("vsums.bin"),
                    &out),
            0);
  const auto program = ReadBytes(Output("p.vxz"));
  const auto work = ReadBytes(Output("w.vxz"));
  const auto write = [&](const std::vector<unsigned char>& p, const std::vector<unsigned char>& w, bool matching) {
    unsigned char sums[kPayloadChecksumSize];
    EncodePayloadChecksums(Crc32(p.data(), p.size()), Crc32(w.data(), w.size()), sums);
    const auto built = matching ? std::vector<unsigned char>(sums, sums + sizeof(sums)) : ReadBytes(Output("vsums.bin"));
    const auto bytes = Executable({{109, p}, {110, w}, {111, built}});
    std::ofstream(Output("setup.exe"), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  const std::string installer = path("setup.exe");

  write(program, work, false);
  EXPECT_EQ(RunTool("verify " + installer, &out), 0) << out;
  EXPECT_NE(out.find("compressed: 2 frames, 70000 bytes decoded"), std::string::npos) << out;
  EXPECT_EQ(RunTool("list " + installer, &out), 0) << out;
  EXPECT_NE(out.find("program archive (resource 109): 1 entries\n\\sub\\x.txt\t70000\n"), std::string::npos) << out;
  EXPECT_EQ(RunTool("verify " + path("p.vxz"), &out), 0) << out;

  // The sums as built cover the compressed bytes: those of the other form do not match.
  write(program, work, true);
  EXPECT_EQ(RunTool("verify " + installer, &out), 0) << out;
  const auto storedSums = ReadBytes(Output("sums.bin"));
  std::ofstream(Output("vsums.bin"), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(storedSums.data()), static_cast<std::streamsize>(storedSums.size()));
  write(program, work, false);
  EXPECT_EQ(RunTool("verify " + installer, &out), 1);
  EXPECT_NE(out.find("do not match"), std::string::npos) << out;
  // A flipped byte inside the last frame, with sums made to match: the frame's own
  // checksum refuses it.
  auto flipped = program;
  flipped[flipped.size() - 2] ^= 0x20;
  write(flipped, work, true);
  EXPECT_EQ(RunTool("verify " + installer, &out), 1);
  EXPECT_NE(out.find("frame 1 does not decode"), std::string::npos) << out;

  EXPECT_EQ(RunTool("compress-pair --frame-size=100 " + path("p.bin") + path("w.bin") + path("a") + path("b") +
                        path("c"),
                    &out),
            2);
  EXPECT_EQ(RunTool("compress-pair " + path("p.vxz") + path("w.bin") + path("a") + path("b") + path("c"), &out), 1);
  EXPECT_FALSE(fs::exists(Output("a")));
}


}  // namespace
