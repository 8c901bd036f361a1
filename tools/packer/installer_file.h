// Finding the payload in a built installer: resources 109, 110 and 111 of type
// "Binary", language 1049, read from the PE file's resource section. Portable: no
// <windows.h>; every offset is checked against the file, so a damaged or foreign
// file is reported, never read past.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A stretch of the file: offset and size.
struct FileSpan {
  std::size_t offset = 0;
  std::size_t size = 0;
};

struct InstallerPayload {
  FileSpan program;    // resource 109
  FileSpan work;       // resource 110
  FileSpan checksums;  // resource 111
};

// Whether the bytes begin like an executable ("MZ"), as opposed to a bare archive.
bool LooksLikeExecutable(const std::vector<unsigned char>& file);

// Finds the three resources. Fails naming what is missing or damaged.
bool FindInstallerPayload(const std::vector<unsigned char>& file, InstallerPayload* payload, std::string* error);
