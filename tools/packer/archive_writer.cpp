#include "packer/archive_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <system_error>

#include "engine/archive_reader.h"

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

std::uint32_t UpperCodePoint(std::uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp >= 0x0430 && cp <= 0x044F) return cp - 0x20;  // а..я
  if (cp >= 0x0450 && cp <= 0x045F) return cp - 0x50;  // ѐ..џ (ё, ђ, љ, ...)
  if (cp == 0x0491) return 0x0490;                     // ґ
  return cp;
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

void PutLe(std::uint64_t value, std::size_t width, char* out) {
  for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

struct Child {
  std::string name;   // code page 1251
  std::string upper;  // ordering key
  fs::path shown;     // the path as the tree names it, for messages
  bool folder = false;
  fs::path canonical;  // folders: where they really are, to catch link loops
  std::uint64_t size = 0;
};

class TreeWalk {
 public:
  TreeWalk(fs::path root, PayloadListing* listing, std::string* error)
      : root_(std::move(root)), listing_(listing), error_(error) {}

  bool Folder(const fs::path& shown, const fs::path& canonical, const std::string& source,
              const std::string& relative) {
    std::vector<Child> children;
    if (!ReadChildren(shown, &children)) return false;
    if (children.empty()) {
      listing_->warnings.push_back("empty folder, not carried (folders travel only with their files): " +
                                   Shown(shown));
      return true;
    }
    open_.push_back(canonical);
    for (const Child& child : children) {
      const std::string source1251 = source + "\\" + child.name;
      if (child.folder) {
        if (!Folder(child.shown, child.canonical, source1251, relative + child.name + "\\")) return false;
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
        if (ec) return Fail(error_, "symbolic link whose target is missing", child.shown);
        if (!InsideTree(root_, target))
          return Fail(error_, "symbolic link leaves the packed folder (to " + Shown(target) + ")", child.shown);
        status = fs::status(target, ec);
        if (ec) return Fail(error_, "cannot read the link's target (" + ec.message() + ")", child.shown);
      }
      if (fs::is_directory(status)) {
        child.folder = true;
        child.canonical = fs::canonical(child.shown, ec);
        if (ec) return Fail(error_, "cannot resolve the folder (" + ec.message() + ")", child.shown);
        if (std::find(open_.begin(), open_.end(), child.canonical) != open_.end() || child.canonical == root_)
          return Fail(error_, "symbolic link to a folder that contains it (a loop)", child.shown);
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
    return true;
  }

  fs::path root_;
  PayloadListing* listing_;
  std::string* error_;
  std::vector<fs::path> open_;  // canonical folders on the walk's current road
};

fs::path TemporaryPath(const fs::path& archivePath) {
  fs::path temp = archivePath;
  temp += ".partial";
  return temp;
}

bool WriteArchiveBody(const std::vector<PayloadFile>& files, const fs::path& path, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return Fail(error, "cannot create", path);
  char header[kPayloadHeaderSize];
  PutLe(files.size(), sizeof(header), header);
  out.write(header, sizeof(header));
  for (const PayloadFile& file : files) {
    char record[kPayloadEntrySize] = {};
    // Lengths were checked when the files were listed; the bounds keep a caller's
    // list from running past the fields all the same.
    std::memcpy(record, file.sourcePath.data(), std::min(file.sourcePath.size(), kPayloadTextSize - 1));
    std::memcpy(record + kPayloadTextSize, file.relativeFolder.data(),
                std::min(file.relativeFolder.size(), kPayloadTextSize - 1));
    PutLe(file.size, 8, record + 2 * kPayloadTextSize);
    out.write(record, sizeof(record));
  }
  std::vector<char> buffer(1 << 16);
  for (const PayloadFile& file : files) {
    std::ifstream in(file.contentPath, std::ios::binary);
    if (!in) return Fail(error, "cannot open", file.contentPath);
    std::uint64_t left = file.size;
    while (left > 0) {
      const auto chunk = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
      in.read(buffer.data(), chunk);
      if (in.gcount() != chunk) return Fail(error, "file shrank while it was packed", file.contentPath);
      out.write(buffer.data(), chunk);
      left -= static_cast<std::uint64_t>(chunk);
    }
    if (in.peek() != std::char_traits<char>::eof()) return Fail(error, "file grew while it was packed", file.contentPath);
  }
  out.close();
  if (!out) return Fail(error, "cannot write (disk full?)", path);
  return true;
}

// Writes each archive to its temporary file, then renames them into place. A failure
// while writing removes every temporary file and touches no archive; a rename that
// fails (rare: the files are ready) leaves the archives renamed before it replaced.
bool WriteArchives(const std::vector<const std::vector<PayloadFile>*>& lists, const std::vector<fs::path>& paths,
                   std::string* error) {
  std::error_code ec;
  for (std::size_t i = 0; i < lists.size(); ++i) {
    if (!WriteArchiveBody(*lists[i], TemporaryPath(paths[i]), error)) {
      for (std::size_t k = 0; k <= i; ++k) fs::remove(TemporaryPath(paths[k]), ec);
      return false;
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    fs::rename(TemporaryPath(paths[i]), paths[i], ec);
    if (ec) {
      const std::string reason = ec.message();
      for (std::size_t k = i; k < paths.size(); ++k) fs::remove(TemporaryPath(paths[k]), ec);
      return Fail(error, "cannot rename the finished archive into place (" + reason + ")", paths[i]);
    }
  }
  return true;
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
  for (char& c : out) {
    const std::uint32_t cp = Cp1251ToCodePoint(static_cast<unsigned char>(c));
    if (cp == 0) continue;
    const int upper = CodePointToCp1251(UpperCodePoint(cp));
    if (upper >= 0) c = static_cast<char>(upper);
  }
  return out;
}

std::string WinePath(const std::string& unixAbsolutePath) {
  std::string out = "Z:" + unixAbsolutePath;
  std::replace(out.begin(), out.end(), '/', '\\');
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

bool ListPayloadFolder(const fs::path& folder, PayloadListing* listing, std::string* error) {
  *listing = PayloadListing{};
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Fail(error, "not a folder", folder);
  const fs::path canonical = fs::canonical(folder, ec);
  if (ec) return Fail(error, "cannot resolve the folder (" + ec.message() + ")", folder);
  const fs::path absolute = fs::absolute(folder, ec).lexically_normal();
  if (ec) return Fail(error, "cannot make the path absolute (" + ec.message() + ")", folder);
  std::string source;
  if (!Utf8ToCp1251(WinePath(absolute.string()), &source))
    return Fail(error, "folder path not representable in code page 1251", folder);
  if (source.size() == 3) source.pop_back();  // "Z:\" packed whole: files follow as "Z:\name"
  TreeWalk walk(canonical, listing, error);
  if (!walk.Folder(folder, canonical, source, "\\")) {
    listing->files.clear();
    return false;
  }
  return true;
}

bool WritePayloadArchive(const std::vector<PayloadFile>& files, const fs::path& archivePath, std::string* error) {
  if (files.size() > kMaxPayloadFiles)
    return Fail(error, "more than " + std::to_string(kMaxPayloadFiles) + " files for", archivePath);
  return WriteArchives({&files}, {archivePath}, error);
}

bool PackFolder(const fs::path& folder, const fs::path& archivePath, std::vector<std::string>* warnings,
                std::string* error) {
  PayloadListing listing;
  if (!ListPayloadFolder(folder, &listing, error)) return false;
  warnings->insert(warnings->end(), listing.warnings.begin(), listing.warnings.end());
  return WritePayloadArchive(listing.files, archivePath, error);
}

bool PackFolderPair(const fs::path& programFolder, const fs::path& workFolder, const fs::path& programArchive,
                    const fs::path& workArchive, std::vector<std::string>* warnings, std::string* error) {
  PayloadListing program;
  PayloadListing work;
  if (!ListPayloadFolder(programFolder, &program, error)) return false;
  if (!ListPayloadFolder(workFolder, &work, error)) return false;
  const std::size_t total = program.files.size() + work.files.size();
  if (total > kMaxPayloadFiles) {
    *error = "the two folders hold " + std::to_string(total) + " files together, the installer records at most " +
             std::to_string(kMaxPayloadFiles) + ": " + Shown(programFolder) + " and " + Shown(workFolder);
    return false;
  }
  warnings->insert(warnings->end(), program.warnings.begin(), program.warnings.end());
  warnings->insert(warnings->end(), work.warnings.begin(), work.warnings.end());
  return WriteArchives({&program.files, &work.files}, {programArchive, workArchive}, error);
}
