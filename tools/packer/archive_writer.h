// Writing payload archives (the format engine/archive_reader.h reads) from a folder
// tree. Portable: no <windows.h>; built only for the host.
//
// Every refusal happens before anything is written, and an archive is written to a
// partial file of its own (created exclusively, never through a link) that takes the
// archive's name only when it is complete, so a refused or failed run leaves no
// archive behind (and no half-written one).
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// The installer records at most this many created files across both archives.
constexpr std::size_t kMaxPayloadFiles = 1000;

// Code page 1251 <-> UTF-8. Utf8ToCp1251 fails on malformed UTF-8 and on
// characters that code page 1251 does not have (the output is then unspecified).
bool Utf8ToCp1251(const std::string& utf8, std::string* cp1251);
std::string Cp1251ToUtf8(const std::string& cp1251);

// The upper-case form of a code page 1251 text (Latin and Cyrillic letters); the
// key by which the names of one folder are ordered.
std::string Cp1251Upper(const std::string& cp1251);

// A Unix absolute path as a Windows program under Wine sees it: Z: and backslashes.
std::string WinePath(const std::string& unixAbsolutePath);

// Location prefix maps, like a compiler's -ffile-prefix-map=OLD=NEW: where the packed
// folder's absolute Unix location begins with the folder OLD, NEW (an absolute Unix
// path) stands in its place before it becomes the Z:\ form of sourcePath. The
// longest matching OLD wins. Keeps the checkout's location out of the archives, so
// two builds from two folders give the same bytes.
using PrefixMap = std::vector<std::pair<std::string, std::string>>;

// One file to be packed.
struct PayloadFile {
  std::filesystem::path contentPath;  // where the bytes are read (a link's target when it is one)
  std::string sourcePath;             // code page 1251, for example Z:\work\bin\platforms\a.dll
  std::string relativeFolder;         // code page 1251, "\" or "\platforms\"
  std::uint64_t size = 0;
};

struct PayloadListing {
  std::vector<PayloadFile> files;     // in archive order
  std::vector<std::string> warnings;  // things that cannot be carried but do not stop packing
};

// Lists the files below folder in archive order: a depth-first walk where the files
// and sub-folders of a folder are taken together in the order of their upper-case
// names. Fails with a message naming the file at fault for a name outside code page
// 1251, a name the reader refuses, a short (8.3) name beside the long name it stands
// for, a text field over 259 characters, a link that leaves the tree or loops, a
// folder reached a second time through a link (each real folder is entered once), a
// special file, names that differ only in case, or more than kMaxPayloadFiles files.
// Empty folders only add a warning.
bool ListPayloadFolder(const std::filesystem::path& folder, PayloadListing* listing, std::string* error,
                       const PrefixMap& map = {});

// Writes files as an archive at archivePath (through a temporary file).
bool WritePayloadArchive(const std::vector<PayloadFile>& files, const std::filesystem::path& archivePath,
                         std::string* error);

// pack: ListPayloadFolder then WritePayloadArchive. Refused first, with nothing
// written, when the archive would lie inside the folder or is a folder.
bool PackFolder(const std::filesystem::path& folder, const std::filesystem::path& archivePath,
                std::vector<std::string>* warnings, std::string* error, const PrefixMap& map = {});

// pack-pair: the two archives and the checksum file (the 8 bytes of resource 111,
// engine/payload_checksum.h). Refused with nothing written when two outputs are one
// file or an output lies inside either folder; then both folders are listed, and
// nothing is written when either fails or when together they hold more than
// kMaxPayloadFiles files.
bool PackFolderPair(const std::filesystem::path& programFolder, const std::filesystem::path& workFolder,
                    const std::filesystem::path& programArchive, const std::filesystem::path& workArchive,
                    const std::filesystem::path& checksumFile, std::vector<std::string>* warnings,
                    std::string* error, const PrefixMap& map = {});

// Writes each buffer to its path the way archives are written: all to partial files
// first, then renamed into place; nothing is left behind when a write fails.
bool WriteOutputFiles(const std::vector<std::pair<std::filesystem::path, const std::vector<unsigned char>*>>& outputs,
                      std::string* error);
