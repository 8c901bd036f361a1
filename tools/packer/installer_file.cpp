#include "packer/installer_file.h"

#include "shared/little_endian.h"

namespace {

constexpr std::uint32_t kLanguageRussian = 1049;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;

// Reads little-endian fields with a bound check; a read outside the file fails the
// whole parse (ok() turns false and every later read gives 0).
class Reader {
 public:
  explicit Reader(const std::vector<unsigned char>& file) : file_(file) {}
  bool ok() const { return ok_; }
  std::uint32_t U16(std::size_t at) { return Read(at, 2); }
  std::uint32_t U32(std::size_t at) { return Read(at, 4); }
  bool Has(std::size_t at, std::size_t size) const { return at <= file_.size() && size <= file_.size() - at; }

 private:
  std::uint32_t Read(std::size_t at, std::size_t width) {
    if (!ok_ || !Has(at, width)) {
      ok_ = false;
      return 0;
    }
    return width == 2 ? ReadLe16(file_.data() + at) : ReadLe32(file_.data() + at);
  }
  const std::vector<unsigned char>& file_;
  bool ok_ = true;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

// The resource section as a file offset and the RVA it starts at, through the
// section table.
class Image {
 public:
  explicit Image(const std::vector<unsigned char>& file) : in_(file) {}

  bool Parse(std::string* error) {
    if (in_.U16(0) != 0x5A4D) return Fail(error, "not an executable (no MZ header)");
    const std::size_t pe = in_.U32(0x3C);
    if (in_.U32(pe) != 0x00004550) return Fail(error, "not a PE executable (no PE signature)");
    const std::uint32_t sectionCount = in_.U16(pe + 6);
    const std::uint32_t optionalSize = in_.U16(pe + 20);
    const std::size_t optional = pe + 24;
    const std::uint32_t magic = in_.U16(optional);
    std::size_t directories = 0;
    std::uint32_t directoryCount = 0;
    if (magic == 0x10B) {  // PE32
      directoryCount = in_.U32(optional + 92);
      directories = optional + 96;
    } else if (magic == 0x20B) {  // PE32+
      directoryCount = in_.U32(optional + 108);
      directories = optional + 112;
    } else {
      return Fail(error, "unknown optional header");
    }
    if (directoryCount <= kResourceDirectoryIndex) return Fail(error, "the executable has no resources");
    resourceRva_ = in_.U32(directories + 8 * kResourceDirectoryIndex);
    const std::size_t table = optional + optionalSize;
    for (std::uint32_t i = 0; i < sectionCount && in_.ok(); ++i) {
      const std::size_t at = table + 40 * static_cast<std::size_t>(i);
      sections_.push_back({in_.U32(at + 12), in_.U32(at + 16), in_.U32(at + 20)});
    }
    if (!in_.ok()) return Fail(error, "headers run past the end of the file");
    if (resourceRva_ == 0 || !ToOffset(resourceRva_, 16, &resourceOffset_))
      return Fail(error, "the executable has no resources");
    return true;
  }

  // The file offset of `size` bytes at an RVA, when they lie in one section's file data.
  bool ToOffset(std::uint32_t rva, std::size_t size, std::size_t* offset) const {
    for (const Section& section : sections_) {
      if (rva < section.virtualAddress) continue;
      const std::size_t into = rva - section.virtualAddress;
      if (into > section.rawSize || size > section.rawSize - into) continue;
      const std::size_t at = static_cast<std::size_t>(section.rawOffset) + into;
      if (!in_.Has(at, size)) return false;
      *offset = at;
      return true;
    }
    return false;
  }

  // The entry of the directory at `directory` (offset into the resource section) with
  // the given id, or with the given upper-case name when name is not empty. Returns
  // its target (offset into the resource section) and whether it is a directory.
  bool Find(std::uint32_t directory, std::uint32_t id, const char* name, std::uint32_t* target, bool* isDirectory) {
    const std::size_t at = resourceOffset_ + directory;
    const std::uint32_t named = in_.U16(at + 12);
    const std::uint32_t ids = in_.U16(at + 14);
    for (std::uint32_t i = 0; i < named + ids && in_.ok(); ++i) {
      const std::size_t entry = at + 16 + 8 * static_cast<std::size_t>(i);
      const std::uint32_t key = in_.U32(entry);
      const std::uint32_t value = in_.U32(entry + 4);
      const bool matches = name != nullptr ? (key & kSubdirectoryBit) && NameIs(key & ~kSubdirectoryBit, name)
                                           : !(key & kSubdirectoryBit) && key == id;
      if (!matches) continue;
      *isDirectory = (value & kSubdirectoryBit) != 0;
      *target = value & ~kSubdirectoryBit;
      return in_.ok();
    }
    return false;
  }

  // The data of resource type/id/language as a span of the file.
  bool Resource(const char* type, std::uint32_t id, FileSpan* span, std::string* error) {
    const std::string what = "resource " + std::to_string(id) + " of type " + type + ", language 1049";
    std::uint32_t target = 0;
    bool isDirectory = false;
    if (!Find(0, 0, type, &target, &isDirectory) || !isDirectory ||
        !Find(target, id, nullptr, &target, &isDirectory) || !isDirectory ||
        !Find(target, kLanguageRussian, nullptr, &target, &isDirectory) || isDirectory)
      return Fail(error, what + " is missing");
    const std::size_t entry = resourceOffset_ + target;
    const std::uint32_t rva = in_.U32(entry);
    const std::uint32_t size = in_.U32(entry + 4);
    if (!in_.ok() || !ToOffset(rva, size, &span->offset)) return Fail(error, what + " lies outside the file");
    span->size = size;
    return true;
  }

 private:
  static bool Fail(std::string* error, const std::string& message) {
    *error = message;
    return false;
  }

  // Resource names are stored as a 16-bit length and UTF-16 characters; the resource
  // compiler keeps type names in upper case.
  bool NameIs(std::uint32_t offset, const char* name) {
    const std::size_t at = resourceOffset_ + offset;
    const std::uint32_t length = in_.U16(at);
    std::size_t i = 0;
    for (; name[i] != '\0'; ++i) {
      if (i >= length || in_.U16(at + 2 + 2 * i) != static_cast<unsigned char>(name[i])) return false;
    }
    return i == length && in_.ok();
  }

  Reader in_;
  std::vector<Section> sections_;
  std::uint32_t resourceRva_ = 0;
  std::size_t resourceOffset_ = 0;
};

}  // namespace

bool LooksLikeExecutable(const std::vector<unsigned char>& file) {
  return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z';
}

bool FindInstallerPayload(const std::vector<unsigned char>& file, InstallerPayload* payload, std::string* error) {
  Image image(file);
  return image.Parse(error) && image.Resource("BINARY", 109, &payload->program, error) &&
         image.Resource("BINARY", 110, &payload->work, error) &&
         image.Resource("BINARY", 111, &payload->checksums, error);
}
