// Writing the compressed form of payload archives (engine/compressed_archive.h) from
// the stored form, with the zstd library. Host only.
//
// The output depends on the input and the settings alone: every frame is compressed
// on its own with fixed parameters, so the number of threads that share the work
// changes nothing, and nothing else (no time, no path) enters the bytes.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct CompressionSettings {
  int level = 19;
  std::uint32_t frameSize = 8 * 1024 * 1024;
  unsigned threads = 0;  // 0: as many as the processor has
};

// The compressed form of a valid stored archive. False, with *error, when `stored`
// is not a valid stored archive or the library fails.
bool CompressArchive(const std::vector<unsigned char>& stored, std::vector<unsigned char>* compressed,
                     std::string* error, const CompressionSettings& settings = {});

// compress-pair: the compressed forms of a program and a work archive, and the
// checksum file of resource 111 over the compressed bytes (engine/payload_checksum.h).
// Nothing is written when either input is refused.
bool CompressArchivePair(const std::filesystem::path& programArchive, const std::filesystem::path& workArchive,
                         const std::filesystem::path& programOutput, const std::filesystem::path& workOutput,
                         const std::filesystem::path& checksumFile, std::string* error,
                         const CompressionSettings& settings = {});
