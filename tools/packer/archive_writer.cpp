#include "packer/archive_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <system_error>
#include <utility>

#include "engine/archive_reader.h"
#include "engine/payload_checksum.h"
#include "shared/code_page_case.h"
#include "shared/little_endian.h"

namespace fs = std::filesystem;

namespace {

// Unicode code points of the bytes 0x80..0xBF of code page 1251 (0 for the one
// unassigned byte, 0x98). 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<std::uint16_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

std::uint32_t Cp1251ToCodePoint(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410u + (byte - 0xC0u);
  return kCp1251High[byte - 0x80u];
}

// The 1251 byte of a code point, or -1 when the code page lacks it.
int CodePointToCp1251(std::uint32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
  for (std::size_t i = 0; i < kCp1251High.size(); ++i)
    if (kCp1251High[i] != 0 && kCp1251High[i] == cp) return static_cast<int>(0x80 + i);
  return -1;
}

// One code point from text[*at], advancing *at; false for malformed, overlong or
// surrogate sequences.
bool DecodeUtf8(const std::string& text, std::size_t* at, std::uint32_t* cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(*at);
  std::size_t length = 0;
  std::uint32_t value = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    *cp = lead;
    ++*at;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - *at < length) return false;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byte(*at + k);
    if ((next & 0xC0) != 0x80) return false;
    value = value << 6 | (next & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *cp = value;
  *at += length;
  return true;
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Shown(const fs::path& path) { return path.string(); }

bool Fail(std::string* error, const std::string& what, const fs::path& path) {
  *error = what + ": " + Shown(path);
  return false;
}

// Whether path (canonical) is root (canonical) or lies below it.
bool InsideTree(const fs::path& root, const fs::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *p != *r) return false;
  }
  return true;
}

// A folder as the file system knows it, whatever name or link leads to it.
using FolderIdentity = std::pair<std::uint64_t, std::uint64_t>;  // device, inode

bool IdentityOf(const fs::path& path, FolderIdentity* identity, std::error_code* ec) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *ec = std::error_code(errno, std::generic_category());
    return false;
  }
  *identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

bool IsLoopError(const std::error_code& ec) { return ec == std::errc::too_many_symbolic_link_levels; }

struct Child {
  std::string name;   // code page 1251
  std::string upper;  // ordering key
  fs::path shown;     // the path as the tree names it, for messages
  bool folder = false;
  FolderIdentity identity;  // folders: device and inode, what "the same folder" means
  std::uint64_t size = 0;
};

// Walks the packed tree. Every real folder is entered once: a second road to a folder
// already packed (a link to it, or two links to one folder) is refused rather than
// packed again, which also keeps a tree of links from being walked an exponential
// number of times.
class TreeWalk {
 public:
  TreeWalk(fs::path root, PayloadListing* listing, std::string* error)
      : root_(std::move(root)), listing_(listing), error_(error) {}

  bool Folder(const fs::path& shown, const FolderIdentity& identity, const std::string& source,
              const std::string& relative) {
    // Checked on entering, not on listing: two links side by side to one folder are
    // both unentered when their parent is listed.
    if (std::find(open_.begin(), open_.end(), identity) != open_.end())
      return Fail(error_, "symbolic link loop (a link to a folder that contains it)", shown);
    const auto earlier = entered_.find(identity);
    if (earlier != entered_.end())
      return Fail(error_, "folder reached a second time through a symbolic link (it is " + Shown(earlier->second) +
                              ", already packed)",
                  shown);
    std::vector<Child> children;
    open_.push_back(identity);
    entered_.emplace(identity, shown);
    if (!ReadChildren(shown, &children)) return false;
    if (children.empty()) {
      listing_->warnings.push_back("empty folder, not carried (folders travel only with their files): " +
                                   Shown(shown));
      open_.pop_back();
      return true;
    }
    for (const Child& child : children) {
      const std::string source1251 = source + "\\" + child.name;
      if (child.folder) {
        if (!Folder(child.shown, child.identity, source1251, relative + child.name + "\\")) return false;
        continue;
      }
      if (source1251.size() >= kPayloadTextSize)
        return Fail(error_, "path of " + std::to_string(source1251.size()) + " characters, at most " +
                                std::to_string(kPayloadTextSize - 1) + " fit",
                    child.shown);
      if (relative.size() >= kPayloadTextSize)
        return Fail(error_, "relative folder of " + std::to_string(relative.size()) + " characters, at most " +
                                std::to_string(kPayloadTextSize - 1) + " fit",
                    child.shown);
      if (listing_->files.size() == kMaxPayloadFiles)
        return Fail(error_, "more than " + std::to_string(kMaxPayloadFiles) +
                                " files (the installer records at most that many); the next one is",
                    child.shown);
      listing_->files.push_back(PayloadFile{child.shown, source1251, relative, child.size});
    }
    open_.pop_back();
    return true;
  }

 private:
  // A folder child's identity (device and inode), through any links.
  bool ReadIdentity(Child* child) {
    std::error_code ec;
    if (IdentityOf(child->shown, &child->identity, &ec)) return true;
    if (IsLoopError(ec)) return Fail(error_, "symbolic link loop (links that lead to each other)", child->shown);
    return Fail(error_, "cannot read the folder (" + ec.message() + ")", child->shown);
  }

  bool ReadChildren(const fs::path& folder, std::vector<Child>* children) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return Fail(error_, "cannot read the folder (" + ec.message() + ")", folder);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      Child child;
      child.shown = it->path();
      if (!Utf8ToCp1251(child.shown.filename().string(), &child.name))
        return Fail(error_, "name not representable in code page 1251", child.shown);
      if (!PayloadNameIsSafe(child.name.data(), child.name.data() + child.name.size()))
        return Fail(error_,
                    "name Windows cannot take (control character, one of : \\ * ? \" < > |, trailing dot or "
                    "space, or a device name)",
                    child.shown);
      child.upper = Cp1251Upper(child.name);
      const fs::file_status own = fs::symlink_status(child.shown, ec);
      if (ec) return Fail(error_, "cannot read (" + ec.message() + ")", child.shown);
      fs::file_status status = own;
      if (fs::is_symlink(own)) {
        const fs::path target = fs::canonical(child.shown, ec);
        if (ec && IsLoopError(ec))
          return Fail(error_, "symbolic link loop (links that lead to each other)", child.shown);
        if (ec) return Fail(error_, "symbolic link whose target is missing", child.shown);
        if (!InsideTree(root_, target))
          return Fail(error_, "symbolic link leaves the packed folder (to " + Shown(target) + ")", child.shown);
        status = fs::status(target, ec);
        if (ec) return Fail(error_, "cannot read the link's target (" + ec.message() + ")", child.shown);
      }
      if (fs::is_directory(status)) {
        child.folder = true;
        if (!ReadIdentity(&child)) return false;
      } else if (fs::is_regular_file(status)) {
        child.size = fs::file_size(child.shown, ec);
        if (ec) return Fail(error_, "cannot read the file's size (" + ec.message() + ")", child.shown);
      } else {
        return Fail(error_, "neither a file nor a folder", child.shown);
      }
      children->push_back(std::move(child));
    }
    if (ec) return Fail(error_, "cannot read the folder (" + ec.message() + ")", folder);
    std::sort(children->begin(), children->end(),
              [](const Child& a, const Child& b) { return a.upper < b.upper; });
    for (std::size_t i = 1; i < children->size(); ++i) {
      if ((*children)[i - 1].upper == (*children)[i].upper) {
        *error_ = "names differ only in case, so one would overwrite the other on Windows: " +
                  Shown((*children)[i - 1].shown) + " and " + Shown((*children)[i].shown);
        return false;
      }
    }
    std::vector<PayloadName> names;
    for (std::size_t i = 0; i < children->size(); ++i) {
      PayloadName name;
      name.name = (*children)[i].name.data();
      name.nameLength = (*children)[i].name.size();
      name.file = !(*children)[i].folder;
      name.owner = static_cast<std::int32_t>(i);
      names.push_back(name);
    }
    const NameClash clash = FindNameClash(names.data(), names.size());
    if (clash.kind == NameClashKind::OutOfMemory) {
      *error_ = "not enough memory to check the names of a folder";
      return false;
    }
    if (clash.kind == NameClashKind::Aliased) {
      *error_ = "a short (8.3) name beside the long name it stands for, so Windows would write both to one "
                "file: " + Shown((*children)[static_cast<std::size_t>(clash.first)].shown) + " and " +
                Shown((*children)[static_cast<std::size_t>(clash.second)].shown);
      return false;
    }
    return true;
  }

  fs::path root_;
  PayloadListing* listing_;
  std::string* error_;
  std::vector<FolderIdentity> open_;                // folders on the walk's current road
  std::map<FolderIdentity, fs::path> entered_;      // every folder entered, by the name it was entered under
};

// An output written under a name of its own beside the final one, then renamed over
// it: created exclusively (O_EXCL with O_NOFOLLOW), under a name no earlier run or
// other writer chose, so neither a left-over file nor a link planted at that name is
// written through.
class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile() { Discard(); }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  bool Create(const fs::path& finalPath, std::string* error) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof(suffix), ".partial-%08x%08x", random(), random());
      fs::path candidate = finalPath;
      candidate += suffix;
      const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd >= 0) {
        fd_ = fd;
        path_ = candidate;
        return true;
      }
      if (errno != EEXIST) break;
    }
    return Fail(error, "cannot create a file beside (" + std::string(std::strerror(errno)) + ")", finalPath);
  }

  // Appends bytes and adds them to the running CRC-32.
  bool Write(const void* data, std::size_t size) {
    crc_ = Crc32(data, size, crc_);
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t done = ::write(fd_, p, size);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      p += done;
      size -= static_cast<std::size_t>(done);
    }
    return true;
  }

  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd >= 0 && ::close(fd) == 0;
  }

  // Renames the finished file over finalPath (a link standing there is replaced, not followed).
  bool Commit(const fs::path& finalPath, std::string* error) {
    std::error_code ec;
    fs::rename(path_, finalPath, ec);
    if (ec) return Fail(error, "cannot rename the finished file into place (" + ec.message() + ")", finalPath);
    path_.clear();
    return true;
  }

  void Discard() {
    Close();
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
  }

  std::uint32_t Crc() const { return crc_; }

 private:
  int fd_ = -1;
  fs::path path_;
  std::uint32_t crc_ = 0;
};

bool WriteArchiveBody(const std::vector<PayloadFile>& files, PartialFile* out, const fs::path& shown,
                      std::string* error) {
  char header[kPayloadHeaderSize];
  WriteLe(files.size(), sizeof(header), reinterpret_cast<unsigned char*>(header));
  bool written = out->Write(header, sizeof(header));
  for (const PayloadFile& file : files) {
    unsigned char record[kPayloadEntrySize];
    // Lengths were checked when the files were listed; the bounds keep a caller's
    // list from running past the fields all the same.
    WritePayloadEntry(file.sourcePath.data(), file.sourcePath.size(), file.relativeFolder.data(),
                      file.relativeFolder.size(), file.size, kPayloadTextSize - 1, record);
    written = written && out->Write(reinterpret_cast<const char*>(record), sizeof(record));
  }
  std::vector<char> buffer(1 << 16);
  for (const PayloadFile& file : files) {
    std::ifstream in(file.contentPath, std::ios::binary);
    if (!in) return Fail(error, "cannot open", file.contentPath);
    std::uint64_t left = file.size;
    while (left > 0 && written) {
      const auto chunk = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
      in.read(buffer.data(), chunk);
      if (in.gcount() != chunk) return Fail(error, "file shrank while it was packed", file.contentPath);
      written = out->Write(buffer.data(), static_cast<std::size_t>(chunk));
      left -= static_cast<std::uint64_t>(chunk);
    }
    if (in.peek() != std::char_traits<char>::eof())
      return Fail(error, "file grew while it was packed", file.contentPath);
  }
  if (!out->Close() || !written) return Fail(error, "cannot write (disk full?)", shown);
  return true;
}

// Writes each archive, and the checksum file when one is named, to its partial file,
// then renames them into place. A failure while writing removes every partial file
// and touches no output; a rename that fails (rare: the files are ready) leaves the
// outputs renamed before it replaced.
bool WriteArchives(const std::vector<const std::vector<PayloadFile>*>& lists, const std::vector<fs::path>& paths,
                   const fs::path& checksumPath, std::string* error) {
  std::vector<PartialFile> partial(paths.size() + 1);
  std::vector<std::uint32_t> sums;
  for (std::size_t i = 0; i < lists.size(); ++i) {
    if (!partial[i].Create(paths[i], error) || !WriteArchiveBody(*lists[i], &partial[i], paths[i], error))
      return false;
    sums.push_back(partial[i].Crc());
  }
  if (!checksumPath.empty()) {
    unsigned char bytes[kPayloadChecksumSize];
    EncodePayloadChecksums(sums.at(0), sums.at(1), bytes);
    PartialFile& file = partial[paths.size()];
    if (!file.Create(checksumPath, error)) return false;
    if (!file.Write(bytes, sizeof(bytes)) || !file.Close()) return Fail(error, "cannot write", checksumPath);
  }
  for (std::size_t i = 0; i < paths.size(); ++i)
    if (!partial[i].Commit(paths[i], error)) return false;
  return checksumPath.empty() || partial[paths.size()].Commit(checksumPath, error);
}

// The outputs must be distinct and lie outside every packed folder (an archive
// written inside one would be packed into the next archive made from it). Checked
// before anything is listed or written.
bool CheckOutputs(const std::vector<fs::path>& inputs, const std::vector<fs::path>& outputs, std::string* error) {
  std::vector<fs::path> resolved;
  for (const fs::path& output : outputs) {
    std::error_code ec;
    const fs::path where = fs::weakly_canonical(fs::absolute(output, ec), ec);
    if (ec) return Fail(error, "cannot resolve the output path (" + ec.message() + ")", output);
    if (fs::is_directory(where, ec)) return Fail(error, "the output is a folder", output);
    if (std::find(resolved.begin(), resolved.end(), where) != resolved.end())
      return Fail(error, "the same output named twice", output);
    for (const fs::path& input : inputs) {
      const fs::path folder = fs::canonical(input, ec);
      if (!ec && InsideTree(folder, where))
        return Fail(error, "the output lies inside the packed folder " + Shown(input) +
                               " (the next archive made from it would hold it)", output);
    }
    resolved.push_back(where);
  }
  return true;
}

// Rewrites the start of an absolute location by the longest matching prefix map, the
// way a compiler's -ffile-prefix-map keeps the build folder out of what it writes.
std::string MapPrefix(const std::string& location, const PrefixMap& map) {
  const PrefixMap::value_type* best = nullptr;
  for (const auto& entry : map) {
    const std::string& old = entry.first;
    const bool matches = location.compare(0, old.size(), old) == 0 &&
                         (location.size() == old.size() || location[old.size()] == '/' || old == "/");
    if (matches && (best == nullptr || old.size() > best->first.size())) best = &entry;
  }
  if (best == nullptr) return location;
  std::string mapped = best->second + location.substr(best->first.size());
  if (mapped.size() > 1 && mapped.compare(0, 2, "//") == 0) mapped.erase(0, 1);
  return mapped;
}

}  // namespace

bool Utf8ToCp1251(const std::string& utf8, std::string* cp1251) {
  cp1251->clear();
  std::size_t at = 0;
  while (at < utf8.size()) {
    std::uint32_t cp = 0;
    if (!DecodeUtf8(utf8, &at, &cp)) return false;
    const int byte = CodePointToCp1251(cp);
    if (byte < 0) return false;
    cp1251->push_back(static_cast<char>(byte));
  }
  return true;
}

std::string Cp1251ToUtf8(const std::string& cp1251) {
  std::string out;
  for (char c : cp1251) {
    const std::uint32_t cp = Cp1251ToCodePoint(static_cast<unsigned char>(c));
    AppendUtf8(cp == 0 && c != '\0' ? 0xFFFDu : cp, &out);
  }
  return out;
}

std::string Cp1251Upper(const std::string& cp1251) {
  std::string out = cp1251;
  for (char& c : out) c = UpperCp1251(c);
  return out;
}

std::string WinePath(const std::string& unixAbsolutePath) {
  std::string out = "Z:" + unixAbsolutePath;
  std::replace(out.begin(), out.end(), '/', '\\');
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

bool ListPayloadFolder(const fs::path& folder, PayloadListing* listing, std::string* error, const PrefixMap& map) {
  *listing = PayloadListing{};
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Fail(error, "not a folder", folder);
  const fs::path canonical = fs::canonical(folder, ec);
  if (ec) return Fail(error, "cannot resolve the folder (" + ec.message() + ")", folder);
  FolderIdentity identity;
  if (!IdentityOf(canonical, &identity, &ec))
    return Fail(error, "cannot read the folder (" + ec.message() + ")", folder);
  const fs::path absolute = fs::absolute(folder, ec).lexically_normal();
  if (ec) return Fail(error, "cannot make the path absolute (" + ec.message() + ")", folder);
  std::string location = absolute.string();
  while (location.size() > 1 && location.back() == '/') location.pop_back();
  std::string source;
  if (!Utf8ToCp1251(WinePath(MapPrefix(location, map)), &source))
    return Fail(error, "folder path not representable in code page 1251", folder);
  if (source.size() == 3) source.pop_back();  // "Z:\" packed whole: files follow as "Z:\name"
  TreeWalk walk(canonical, listing, error);
  if (!walk.Folder(folder, identity, source, "\\")) {
    listing->files.clear();
    return false;
  }
  return true;
}

bool WritePayloadArchive(const std::vector<PayloadFile>& files, const fs::path& archivePath, std::string* error) {
  if (files.size() > kMaxPayloadFiles)
    return Fail(error, "more than " + std::to_string(kMaxPayloadFiles) + " files for", archivePath);
  return WriteArchives({&files}, {archivePath}, fs::path(), error);
}

bool PackFolder(const fs::path& folder, const fs::path& archivePath, std::vector<std::string>* warnings,
                std::string* error, const PrefixMap& map) {
  if (!CheckOutputs({folder}, {archivePath}, error)) return false;
  PayloadListing listing;
  if (!ListPayloadFolder(folder, &listing, error, map)) return false;
  warnings->insert(warnings->end(), listing.warnings.begin(), listing.warnings.end());
  return WritePayloadArchive(listing.files, archivePath, error);
}

bool PackFolderPair(const fs::path& programFolder, const fs::path& workFolder, const fs::path& programArchive,
                    const fs::path& workArchive, const fs::path& checksumFile, std::vector<std::string>* warnings,
                    std::string* error, const PrefixMap& map) {
  if (!CheckOutputs({programFolder, workFolder}, {programArchive, workArchive, checksumFile}, error)) return false;
  PayloadListing program;
  PayloadListing work;
  if (!ListPayloadFolder(programFolder, &program, error, map)) return false;
  if (!ListPayloadFolder(workFolder, &work, error, map)) return false;
  const std::size_t total = program.files.size() + work.files.size();
  if (total > kMaxPayloadFiles) {
    *error = "the two folders hold " + std::to_string(total) + " files together, the installer records at most " +
             std::to_string(kMaxPayloadFiles) + ": " + Shown(programFolder) + " and " + Shown(workFolder);
    return false;
  }
  warnings->insert(warnings->end(), program.warnings.begin(), program.warnings.end());
  warnings->insert(warnings->end(), work.warnings.begin(), work.warnings.end());
  return WriteArchives({&program.files, &work.files}, {programArchive, workArchive}, checksumFile, error);
}

bool WriteOutputFiles(const std::vector<std::pair<fs::path, const std::vector<unsigned char>*>>& outputs,
                      std::string* error) {
  std::vector<fs::path> paths;
  for (const auto& output : outputs) paths.push_back(output.first);
  if (!CheckOutputs({}, paths, error)) return false;
  std::vector<PartialFile> partial(outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::vector<unsigned char>& bytes = *outputs[i].second;
    if (!partial[i].Create(outputs[i].first, error)) return false;
    if (!partial[i].Write(bytes.data(), bytes.size()) || !partial[i].Close())
      return Fail(error, "cannot write (disk full?)", outputs[i].first);
  }
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (!partial[i].Commit(outputs[i].first, error)) return false;
  return true;
}
