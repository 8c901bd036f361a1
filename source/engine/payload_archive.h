// A payload archive in either form, stored (engine/archive_reader.h) or compressed
// (engine/compressed_archive.h), told apart by its first four bytes. Portable.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/archive_reader.h"

// Checks the archive and fills *view when it is valid (view may be null).
// On failure *failedEntry (when given) names the entry at fault, or -1.
ArchiveError ValidateArchive(const void* data, std::size_t size, ArchiveView* view,
                             std::int32_t* failedEntry = nullptr);
