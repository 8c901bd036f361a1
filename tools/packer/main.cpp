// velmorix-pack: writes, lists and verifies payload archives.
//
//   velmorix-pack [--prefix-map=OLD=NEW]... pack <folder> <archive>
//   velmorix-pack [--prefix-map=OLD=NEW]... pack-pair <program-folder> <work-folder>
//                 <program-archive> <work-archive> <checksum-file>
//   velmorix-pack compress-pair [--frame-size=BYTES] <program-archive> <work-archive>
//                 <compressed-program> <compressed-work> <checksum-file>
//   velmorix-pack list <archive-or-installer>
//   velmorix-pack verify <archive-or-installer>
//   velmorix-pack --help
//
// Exit status: 0 done (warnings go to stderr), 1 refused or invalid, 2 wrong usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/compressed_archive.h"
#include "engine/frame_decoder.h"
#include "engine/payload_checksum.h"
#include "packer/archive_compressor.h"
#include "packer/archive_writer.h"
#include "packer/installer_file.h"
#include "shared/little_endian.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: velmorix-pack [--prefix-map=OLD=NEW]... pack <folder> <archive>\n"
    "       velmorix-pack [--prefix-map=OLD=NEW]... pack-pair <program-folder> <work-folder>\n"
    "                     <program-archive> <work-archive> <checksum-file>\n"
    "       velmorix-pack compress-pair [--frame-size=BYTES] <program-archive> <work-archive>\n"
    "                     <compressed-program> <compressed-work> <checksum-file>\n"
    "       velmorix-pack list <archive-or-installer>\n"
    "       velmorix-pack verify <archive-or-installer>\n"
    "       velmorix-pack --help\n"
    "\n"
    "pack-pair writes the program archive (resource 109), the work archive (110) and the\n"
    "8-byte checksum file (111: the CRC-32 of each archive, little-endian).\n"
    "compress-pair writes the compressed form of two such archives (zstd frames of\n"
    "8 MiB at most, level 19) and the checksum file of the compressed pair;\n"
    "--frame-size cuts the files' data into smaller frames (65536 to 8388608 bytes).\n"
    "--prefix-map=OLD=NEW writes a packed folder found under the absolute folder OLD\n"
    "as if it lay under NEW (also absolute) in each entry's source path.\n"
    "list and verify take an archive or a built installer (its resources 109, 110, 111),\n"
    "stored or compressed; verify decodes every frame of a compressed archive.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kUsageError;
}

int Report(bool ok, const std::vector<std::string>& warnings, const std::string& error) {
  for (const std::string& warning : warnings) std::fprintf(stderr, "velmorix-pack: warning: %s\n", warning.c_str());
  if (ok) return 0;
  std::fprintf(stderr, "velmorix-pack: %s (nothing written)\n", error.c_str());
  return 1;
}

bool ReadFile(const char* path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "velmorix-pack: cannot open %s\n", path);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Validates one archive; prints the reason and returns false when it is not valid.
bool CheckArchive(const std::string& name, const unsigned char* data, std::size_t size, ArchiveView* view) {
  std::int32_t failedEntry = -1;
  const ArchiveError error = ValidateArchive(data, size, view, &failedEntry);
  if (error == ArchiveError::None) return true;
  if (failedEntry >= 0)
    std::printf("%s: invalid: entry %d: %s\n", name.c_str(), static_cast<int>(failedEntry), ArchiveErrorText(error));
  else
    std::printf("%s: invalid: %s\n", name.c_str(), ArchiveErrorText(error));
  return false;
}

// Decodes every frame of a compressed archive (each checked against its content
// checksum); prints the first that fails. True for a stored archive.
bool CheckFrames(const std::string& name, const ArchiveView& view) {
  if (!view.compressed) return true;
  FrameDecoder decoder;
  std::vector<unsigned char> content(view.frameSize);
  std::vector<CompressedFrame> frames(view.frameCount);
  ListCompressedFrames(view, frames.data());
  for (std::size_t f = 0; f < frames.size(); ++f) {
    if (!decoder.Decode(view.base + frames[f].offset, frames[f].compressedSize, content.data(),
                        frames[f].contentSize)) {
      std::printf("%s: invalid: frame %zu does not decode to its %u bytes and checksum\n", name.c_str(), f,
                  frames[f].contentSize);
      return false;
    }
  }
  return true;
}

// How an archive of `size` bytes holds its data, for verify.
std::string FormOf(const ArchiveView& view) {
  if (!view.compressed) return std::to_string(view.size) + " bytes";
  return std::to_string(view.size) + " bytes, compressed: " + std::to_string(view.frameCount) + " frames, " +
         std::to_string(view.dataBytes) + " bytes decoded";
}

void PrintEntries(const ArchiveView& view) {
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const std::string destination = std::string(entry.relativeFolder) + PayloadFileName(entry);
    std::printf("%s\t%llu\n", Cp1251ToUtf8(destination).c_str(), static_cast<unsigned long long>(entry.size));
  }
}

// list and verify of a built installer: both archives and the checksums of resource 111.
int InstallerCommand(const char* path, const std::vector<unsigned char>& file, bool list) {
  InstallerPayload payload;
  std::string error;
  if (!FindInstallerPayload(file, &payload, &error)) {
    std::printf("%s: invalid: %s\n", path, error.c_str());
    return 1;
  }
  struct Part {
    const char* name;
    FileSpan span;
    ArchiveView view;
  } parts[] = {{"program archive (resource 109)", payload.program, {}},
               {"work archive (resource 110)", payload.work, {}}};
  bool valid = true;
  for (Part& part : parts) {
    const std::string name = std::string(path) + ": " + part.name;
    if (!CheckArchive(name, file.data() + part.span.offset, part.span.size, &part.view) ||
        (!list && !CheckFrames(name, part.view))) {
      valid = false;
      continue;
    }
    const std::uint32_t crc = Crc32(file.data() + part.span.offset, part.span.size);
    if (list) {
      std::printf("%s: %d entries\n", part.name, static_cast<int>(part.view.count));
      PrintEntries(part.view);
    } else {
      std::printf("%s: OK, %d entries, %s, CRC-32 %08x\n", name.c_str(), static_cast<int>(part.view.count),
                  FormOf(part.view).c_str(), crc);
    }
  }
  if (!valid) return 1;
  const unsigned char* sums = file.data() + payload.checksums.offset;
  if (!PayloadChecksumsMatch(sums, payload.checksums.size, file.data() + payload.program.offset,
                             payload.program.size, file.data() + payload.work.offset, payload.work.size)) {
    if (payload.checksums.size == kPayloadChecksumSize)
      std::printf("%s: invalid: checksums (resource 111) %08x %08x do not match the archives\n", path, ReadLe32(sums),
                  ReadLe32(sums + 4));
    else
      std::printf("%s: invalid: checksums (resource 111) of %zu bytes, not 8\n", path, payload.checksums.size);
    return 1;
  }
  if (!list) std::printf("%s: checksums (resource 111) match\n%s: OK\n", path, path);
  return 0;
}

int ArchiveCommand(const char* path, bool list) {
  std::vector<unsigned char> bytes;
  if (!ReadFile(path, &bytes)) return 1;
  if (LooksLikeExecutable(bytes)) return InstallerCommand(path, bytes, list);
  ArchiveView view;
  if (!CheckArchive(path, bytes.data(), bytes.size(), &view) || (!list && !CheckFrames(path, view))) return 1;
  if (list) {
    std::printf("%d entries\n", static_cast<int>(view.count));
    PrintEntries(view);
  } else {
    std::printf("%s: OK, %d entries, %s\n", path, static_cast<int>(view.count), FormOf(view).c_str());
  }
  return 0;
}

// --prefix-map=OLD=NEW, both absolute.
bool ParsePrefixMap(const std::string& argument, PrefixMap* map) {
  const std::string value = argument.substr(std::strlen("--prefix-map="));
  const std::size_t equals = value.find('=');
  if (equals == std::string::npos) return false;
  std::string from = value.substr(0, equals);
  std::string to = value.substr(equals + 1);
  while (from.size() > 1 && from.back() == '/') from.pop_back();
  while (to.size() > 1 && to.back() == '/') to.pop_back();
  if (from.empty() || to.empty() || from[0] != '/' || to[0] != '/') return false;
  map->emplace_back(from, to);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  PrefixMap map;
  std::size_t at = 0;
  for (; at < args.size() && args[at].rfind("--prefix-map=", 0) == 0; ++at)
    if (!ParsePrefixMap(args[at], &map)) return Usage();
  args.erase(args.begin(), args.begin() + static_cast<long>(at));
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  std::vector<std::string> warnings;
  std::string error;
  if (command == "pack" && args.size() == 3)
    return Report(PackFolder(args[1], args[2], &warnings, &error, map), warnings, error);
  if (command == "pack-pair" && args.size() == 6)
    return Report(PackFolderPair(args[1], args[2], args[3], args[4], args[5], &warnings, &error, map), warnings,
                  error);
  if (!map.empty()) return Usage();  // maps only shape what pack and pack-pair write
  if (command == "compress-pair" && (args.size() == 6 || args.size() == 7)) {
    CompressionSettings settings;
    if (args.size() == 7) {
      const std::string option = "--frame-size=";
      if (args[1].rfind(option, 0) != 0) return Usage();
      char* end = nullptr;
      const unsigned long size = std::strtoul(args[1].c_str() + option.size(), &end, 10);
      if (*end != '\0' || size < kMinFrameSize || size > kMaxFrameSize) return Usage();
      settings.frameSize = static_cast<std::uint32_t>(size);
      args.erase(args.begin() + 1);
    }
    return Report(CompressArchivePair(args[1], args[2], args[3], args[4], args[5], &error, settings), warnings,
                  error);
  }
  if (command == "list" && args.size() == 2) return ArchiveCommand(args[1].c_str(), true);
  if (command == "verify" && args.size() == 2) return ArchiveCommand(args[1].c_str(), false);
  return Usage();
}
