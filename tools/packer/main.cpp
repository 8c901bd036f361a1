// velmorix-pack: writes, lists and verifies payload archives.
//
//   velmorix-pack pack <folder> <archive>
//   velmorix-pack pack-pair <program-folder> <work-folder> <program-archive> <work-archive>
//   velmorix-pack list <archive>
//   velmorix-pack verify <archive>
//
// Exit status: 0 done (warnings go to stderr), 1 refused or invalid, 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "packer/archive_writer.h"

namespace {

constexpr int kUsageError = 2;

int Usage() {
  std::fputs(
      "usage: velmorix-pack pack <folder> <archive>\n"
      "       velmorix-pack pack-pair <program-folder> <work-folder> <program-archive> <work-archive>\n"
      "       velmorix-pack list <archive>\n"
      "       velmorix-pack verify <archive>\n",
      stderr);
  return kUsageError;
}

int Report(bool ok, const std::vector<std::string>& warnings, const std::string& error) {
  for (const std::string& warning : warnings) std::fprintf(stderr, "velmorix-pack: warning: %s\n", warning.c_str());
  if (ok) return 0;
  std::fprintf(stderr, "velmorix-pack: %s (nothing written)\n", error.c_str());
  return 1;
}

// Reads and validates an archive; prints the reason and returns false when it is not valid.
bool LoadArchive(const char* path, std::vector<unsigned char>* bytes, ArchiveView* view) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "velmorix-pack: cannot open %s\n", path);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::int32_t failedEntry = -1;
  const ArchiveError error = ValidateArchive(bytes->data(), bytes->size(), view, &failedEntry);
  if (error == ArchiveError::None) return true;
  if (failedEntry >= 0)
    std::printf("%s: invalid: entry %d: %s\n", path, static_cast<int>(failedEntry), ArchiveErrorText(error));
  else
    std::printf("%s: invalid: %s\n", path, ArchiveErrorText(error));
  return false;
}

int List(const char* path) {
  std::vector<unsigned char> bytes;
  ArchiveView view;
  if (!LoadArchive(path, &bytes, &view)) return 1;
  std::printf("%d entries\n", static_cast<int>(view.count));
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const std::string destination = std::string(entry.relativeFolder) + PayloadFileName(entry);
    std::printf("%s\t%llu\n", Cp1251ToUtf8(destination).c_str(), static_cast<unsigned long long>(entry.size));
  }
  return 0;
}

int Verify(const char* path) {
  std::vector<unsigned char> bytes;
  ArchiveView view;
  if (!LoadArchive(path, &bytes, &view)) return 1;
  std::printf("%s: OK, %d entries\n", path, static_cast<int>(view.count));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::vector<std::string> warnings;
  std::string error;
  if (command == "pack" && argc == 4) return Report(PackFolder(argv[2], argv[3], &warnings, &error), warnings, error);
  if (command == "pack-pair" && argc == 6)
    return Report(PackFolderPair(argv[2], argv[3], argv[4], argv[5], &warnings, &error), warnings, error);
  if (command == "list" && argc == 3) return List(argv[2]);
  if (command == "verify" && argc == 3) return Verify(argv[2]);
  return Usage();
}
