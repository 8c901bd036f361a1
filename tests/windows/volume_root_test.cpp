// VolumeRootOf names the volume a keep folder serves. It cuts a drive's root itself
// (the uninstaller's first process loads no shlwapi) and must cut exactly what
// PathSkipRootA cuts; a shared folder's root is PathSkipRootA's.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include "engine/keep_folder.h"
#include "shared/path_buffer.h"

TEST(VolumeRoot, IsWhatPathSkipRootLeavesOfDrivesAndSharedFolders) {
  const char* const paths[] = {"C:\\Windows\\System32", "c:\\", "Z:\\work\\deep\\folder\\",
                               "\\\\server\\share\\folder", "\\\\server\\share\\"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    char expected[kPathCapacity];
    CopyPath(expected, path);
    char* afterRoot = PathSkipRootA(expected);
    ASSERT_NE(afterRoot, nullptr);
    *afterRoot = '\0';
    char root[kPathCapacity] = {};
    EXPECT_TRUE(VolumeRootOf(path, root));
    EXPECT_STREQ(root, expected);
  }
}

TEST(VolumeRoot, APathWithoutRootHasNone) {
  for (const char* path : {"relative\\folder", ""}) {
    SCOPED_TRACE(path);
    char root[kPathCapacity] = {};
    EXPECT_FALSE(VolumeRootOf(path, root));
  }
}
