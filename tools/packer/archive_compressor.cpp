#include "packer/archive_compressor.h"

#include <zstd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/compressed_archive.h"
#include "engine/payload_checksum.h"
#include "packer/archive_writer.h"
#include "shared/little_endian.h"

namespace {

struct FramePiece {
  const unsigned char* content = nullptr;
  std::size_t size = 0;
  std::vector<unsigned char> compressed;
  bool failed = false;
};

// Compresses each piece with its own context: level, content size and checksum fixed.
void CompressPieces(std::vector<FramePiece>* pieces, const CompressionSettings& settings) {
  std::atomic<std::size_t> next{0};
  auto work = [&]() {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    for (std::size_t i = next++; i < pieces->size(); i = next++) {
      FramePiece& piece = (*pieces)[i];
      piece.failed = context == nullptr ||
                     ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, settings.level)) ||
                     ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1)) ||
                     ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1));
      if (piece.failed) continue;
      piece.compressed.resize(ZSTD_compressBound(piece.size));
      const std::size_t length =
          ZSTD_compress2(context, piece.compressed.data(), piece.compressed.size(), piece.content, piece.size);
      piece.failed = ZSTD_isError(length) != 0;
      piece.compressed.resize(piece.failed ? 0 : length);
    }
    ZSTD_freeCCtx(context);
  };
  unsigned threads = settings.threads ? settings.threads : std::thread::hardware_concurrency();
  if (threads == 0) threads = 1;
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
}

bool ReadWhole(const std::filesystem::path& path, std::vector<unsigned char>* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path.string();
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool CompressArchive(const std::vector<unsigned char>& stored, std::vector<unsigned char>* compressed,
                     std::string* error, const CompressionSettings& settings) {
  ArchiveView view;
  const ArchiveError check = ValidateArchive(stored.data(), stored.size(), &view);
  if (check != ArchiveError::None || view.compressed) {
    *error = std::string("not a valid stored archive: ") +
             (check != ArchiveError::None ? ArchiveErrorText(check) : "it is compressed already");
    return false;
  }
  if (settings.frameSize < kMinFrameSize || settings.frameSize > kMaxFrameSize) {
    *error = "frame size out of range";
    return false;
  }
  std::vector<FramePiece> pieces;
  const unsigned char* cursor = view.base + view.dataOffset;
  for (std::int32_t i = 0; i < view.count; ++i) {
    std::uint64_t left = ReadPayloadEntry(view, i).size;
    while (left > 0) {
      FramePiece piece;
      piece.content = cursor;
      piece.size = static_cast<std::size_t>(left < settings.frameSize ? left : settings.frameSize);
      cursor += piece.size;
      left -= piece.size;
      pieces.push_back(std::move(piece));
    }
  }
  CompressPieces(&pieces, settings);

  const std::size_t table = static_cast<std::size_t>(view.count) * kPayloadEntrySize;
  compressed->assign(kCompressedHeaderSize, 0);
  std::memcpy(compressed->data(), kCompressedArchiveTag, sizeof(kCompressedArchiveTag));
  WriteLe(kCompressedArchiveVersion, 4, compressed->data() + 4);
  WriteLe(static_cast<std::uint32_t>(view.count), 4, compressed->data() + 8);
  WriteLe(settings.frameSize, 4, compressed->data() + 12);
  WriteLe(static_cast<std::uint32_t>(pieces.size()), 4, compressed->data() + 16);
  compressed->insert(compressed->end(), view.base + view.tableOffset, view.base + view.tableOffset + table);
  for (const FramePiece& piece : pieces) {
    if (piece.failed) {
      *error = "the zstd library failed to compress a frame";
      return false;
    }
    unsigned char length[4];
    WriteLe(static_cast<std::uint32_t>(piece.compressed.size()), 4, length);
    compressed->insert(compressed->end(), length, length + 4);
  }
  for (const FramePiece& piece : pieces)
    compressed->insert(compressed->end(), piece.compressed.begin(), piece.compressed.end());
  return true;
}

bool CompressArchivePair(const std::filesystem::path& programArchive, const std::filesystem::path& workArchive,
                         const std::filesystem::path& programOutput, const std::filesystem::path& workOutput,
                         const std::filesystem::path& checksumFile, std::string* error,
                         const CompressionSettings& settings) {
  std::vector<unsigned char> stored[2];
  std::vector<unsigned char> compressed[2];
  const std::filesystem::path inputs[2] = {programArchive, workArchive};
  for (int i = 0; i < 2; ++i) {
    if (!ReadWhole(inputs[i], &stored[i], error)) return false;
    if (!CompressArchive(stored[i], &compressed[i], error, settings)) {
      *error = inputs[i].string() + ": " + *error;
      return false;
    }
  }
  unsigned char sums[kPayloadChecksumSize];
  EncodePayloadChecksums(Crc32(compressed[0].data(), compressed[0].size()),
                         Crc32(compressed[1].data(), compressed[1].size()), sums);
  const std::vector<unsigned char> sumBytes(sums, sums + sizeof(sums));
  return WriteOutputFiles({{programOutput, &compressed[0]}, {workOutput, &compressed[1]}, {checksumFile, &sumBytes}},
                          error);
}
