#include "shared/run_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "log_lines.h"

using enginetest::ReadWholeFile;
using enginetest::TempFolder;
using enginetest::WriteWholeFile;

namespace {

// Where the build made the links (see cmake/windows.cmake).
std::string LinkFixture(const char* name) {
  char build[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("VELMORIX_BUILD_DIR", build, sizeof(build));
  if (length == 0 || length >= sizeof(build)) return std::string();
  return std::string(build) + "\\link-fixtures\\" + name;
}

TEST(RunLog, AppendsStampedUtf8LinesFromEveryWriterOfTheFile) {
  TempFolder folder;
  const std::string path = folder / "setup.log";
  ASSERT_TRUE(WriteWholeFile(path, "earlier\r\n"));
  unsigned long error = 1;
  RunLog first;
  RunLog second;
  ASSERT_EQ(first.Open(path.c_str(), &error), RunLog::OpenResult::Opened) << error;
  ASSERT_EQ(second.Open(path.c_str(), &error), RunLog::OpenResult::Opened) << error;

  // The fixed texts are code page 1251, paths the ANSI code page (1251 here too).
  first.StepFailed(FailureCause::PayloadDamaged, "C:\\Мои файлы\\x.exe", ERROR_INVALID_DATA);
  second.StepFailed(FailureCause::DesktopShortcutFailed, nullptr, 0x80070005ul);
  first.ArchiveUnpacked("C:\\Apps", 5, 456859, 1234);
  first.Finished(false);

  const std::vector<std::string> lines = SplitLogLines(ReadWholeFile(path));
  const std::vector<std::string> expected = {
      "unstamped: earlier",  // written before, by someone else
      u8"failed: Невозможно подгрузить файл ресурсов; cause: payload-damaged; path: C:\\Мои файлы\\x.exe; "
      u8"system error 13",
      u8"failed: Невозможно создать ярлык на рабочем столе; cause: desktop-shortcut-failed; system error 0x80070005",
      "archive unpacked: C:\\Apps: 5 files, 456859 bytes, 1.234 s",
      "run finished: failed",
  };
  EXPECT_EQ(lines, expected) << ReadWholeFile(path);
}

TEST(RunLog, NeverWritesThroughALinkASecondNameOrIntoAFolder) {
  const std::string realFolder = LinkFixture("real-folder");
  ASSERT_TRUE(enginetest::FolderExists(realFolder)) << "no link fixtures under VELMORIX_BUILD_DIR";
  TempFolder folder;
  for (const std::string& path : {LinkFixture("folder-link\\setup.log"), LinkFixture("second-name.txt"),
                                  folder.Path()}) {
    RunLog log;
    unsigned long error = 0;
    EXPECT_EQ(log.Open(path.c_str(), &error), RunLog::OpenResult::Refused) << path;
    EXPECT_NE(error, 0ul) << path;
    EXPECT_FALSE(log.IsOpen()) << path;
    log.Finished(true);  // written nowhere
  }
  EXPECT_FALSE(enginetest::FileExists(realFolder + "\\setup.log"));
  EXPECT_EQ(ReadWholeFile(LinkFixture("named-twice.txt")), "named twice\n");

  // A link to a missing file would have the log create the file it names.
  RunLog log;
  unsigned long error = 0;
  EXPECT_NE(log.Open(LinkFixture("dangling-link.txt").c_str(), &error), RunLog::OpenResult::Opened);
  EXPECT_FALSE(enginetest::FileExists(LinkFixture("missing.txt")));
  EXPECT_EQ(log.Open((folder / "no such folder\\setup.log").c_str(), &error), RunLog::OpenResult::Failed);
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
}

// A folder on the log's way flipped between a real folder and a link to another one by
// a Unix process, as fast as it can, while the log is opened again and again (the
// check by name and the open by path once lost this race 15 times in 5,000). Each
// open is refused, fails, or lands in the real folder; nothing is written behind the
// link.
TEST(RunLog, AFolderFlippedToALinkWhileOpeningNeverRedirectsTheLog) {
  TempFolder folder("C:");  // few folders on the way: more opens in the time
  const std::string victim = folder / "victim";
  ASSERT_TRUE(CreateDirectoryA(victim.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder / "d").c_str(), nullptr));
  ASSERT_TRUE(enginetest::PlantLink(victim, folder / "l"));
  // f is in turn the real folder d, missing, and the link l.
  ASSERT_TRUE(enginetest::RunUnixProgram(
      "/usr/bin/perl", {"-e",
                        "chdir shift; until (-e 'stop') { rename 'd','f'; rename 'f','d'; rename 'l','f'; "
                        "rename 'f','l'; }",
                        enginetest::UnixPathOf(folder.Path())}));
  const std::string path = folder / "f\\setup.log";
  int opened = 0;
  int refused = 0;
  for (int i = 0; i < 2000; ++i) {
    RunLog log;
    unsigned long error = 0;
    const RunLog::OpenResult result = log.Open(path.c_str(), &error);
    if (result == RunLog::OpenResult::Opened) ++opened;
    if (result == RunLog::OpenResult::Refused) ++refused;
    log.Finished(true);
  }
  ASSERT_TRUE(WriteWholeFile(folder / "stop", ""));
  // The flipper ends with d and l back in place.
  ASSERT_TRUE(enginetest::WaitForPath(folder / "f", false));
  EXPECT_GT(opened, 0) << "the real folder was never reached: no race was run";
  EXPECT_GT(refused, 0) << "the link was never met: no race was run";
  EXPECT_TRUE(enginetest::ListFiles(victim).empty())
      << "written behind the link: " << ReadWholeFile(victim + "\\setup.log").size() << " bytes; " << opened
      << " opened, " << refused << " refused";
  EXPECT_EQ(SplitLogLines(ReadWholeFile(folder / "d\\setup.log")).size(), static_cast<std::size_t>(opened));
}

TEST(RunLog, AnOverlongLineIsCutNotOverrun) {
  const std::string path(250, 'p');
  LogLine line;
  for (int i = 0; i < 40; ++i) line.Path(path.c_str()).Text(" ");
  ASSERT_LE(line.Length(), static_cast<std::size_t>(LogLine::kCapacity));
  EXPECT_GT(line.Length(), static_cast<std::size_t>(LogLine::kCapacity) - 300);
  EXPECT_EQ(std::string(line.Data() + line.Length() - 3, 3), "...");
}

}  // namespace
