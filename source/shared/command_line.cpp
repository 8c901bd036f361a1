#include "shared/command_line.h"

#include <cstring>

#include "shared/code_page_case.h"

namespace {

enum class Switch { Unattended, InstallDir, WorkDir, NoDesktop, NoStartMenu, Log, Usage, Count };

struct SwitchName {
  const char* name;  // as typed after the slash, upper case
  bool takesValue;
  Switch which;
};

const SwitchName kSwitches[] = {
    {"S", false, Switch::Unattended},       {"D", true, Switch::InstallDir},
    {"WORKDIR", true, Switch::WorkDir},      {"NODESKTOP", false, Switch::NoDesktop},
    {"NOSTARTMENU", false, Switch::NoStartMenu}, {"LOG", true, Switch::Log},
    {"?", false, Switch::Usage},
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// [begin, end) equals `name` (ASCII capitals), ignoring case.
bool NameIs(const char* begin, const char* end, const char* name) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  return std::strlen(name) == length && SameTextCp1251(begin, name, length);
}

const SwitchName* FindSwitch(const char* begin, const char* end) {
  for (const SwitchName& candidate : kSwitches) {
    if (NameIs(begin, end, candidate.name)) return &candidate;
  }
  return nullptr;
}

// Characters no file or folder name may hold; a colon only after a drive letter.
bool HasForbiddenCharacter(const char* path) {
  for (std::size_t i = 0; path[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return true;
    if (c == ':' && !(i == 1 && IsLetter(path[0]))) return true;
  }
  return false;
}

// A drive letter without its separator ("C:", "C:name") names the drive's current
// folder; a leading separator alone names the current drive: both are relative.
bool IsDrivePath(const char* path) { return IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]); }

bool IsUncPath(const char* path) {
  if (!IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  // \\server\share: both names present.
  std::size_t i = 2;
  const std::size_t serverStart = i;
  while (path[i] != '\0' && !IsSeparator(path[i])) ++i;
  if (i == serverStart || path[i] == '\0') return false;
  ++i;
  return path[i] != '\0' && !IsSeparator(path[i]);
}

class Parser {
 public:
  explicit Parser(CommandLineOptions& options) : options_(options) {}

  void Take(const char* argument, int index) {
    if (argument == nullptr) return Fail(CommandLineError::Unrepresentable, index);
    if (argument[0] != '/') return Fail(CommandLineError::UnknownSwitch, index);
    const char* nameEnd = std::strchr(argument, '=');
    const bool hasValue = nameEnd != nullptr;
    if (!hasValue) nameEnd = argument + std::strlen(argument);
    const SwitchName* found = FindSwitch(argument + 1, nameEnd);
    if (found == nullptr) return Fail(CommandLineError::UnknownSwitch, index);
    if (found->which == Switch::Unattended && !hasValue) options_.unattended = true;
    if (hasValue != found->takesValue) {
      return Fail(hasValue ? CommandLineError::UnknownSwitch : CommandLineError::MissingValue, index);
    }
    auto& seen = seen_[static_cast<int>(found->which)];
    if (seen) return Fail(CommandLineError::RepeatedSwitch, index);
    seen = true;
    ++switchCount_;
    if (found->takesValue) TakeValue(found->which, nameEnd + 1, index);
  }

  void Finish() {
    if (seen_[static_cast<int>(Switch::Usage)] && switchCount_ > 1) Fail(CommandLineError::UsageNotAlone, -1);
    const bool needsUnattended = seen_[static_cast<int>(Switch::InstallDir)] ||
                                 seen_[static_cast<int>(Switch::WorkDir)] ||
                                 seen_[static_cast<int>(Switch::NoDesktop)] ||
                                 seen_[static_cast<int>(Switch::NoStartMenu)];
    if (needsUnattended && !options_.unattended) Fail(CommandLineError::NeedsUnattended, -1);
    options_.noDesktopShortcut = seen_[static_cast<int>(Switch::NoDesktop)];
    options_.noStartMenuShortcut = seen_[static_cast<int>(Switch::NoStartMenu)];
    if (options_.error != CommandLineError::None) {
      options_.mode = StartMode::Invalid;
    } else if (seen_[static_cast<int>(Switch::Usage)]) {
      options_.mode = StartMode::Usage;
    } else if (options_.unattended) {
      options_.mode = StartMode::Unattended;
    } else {
      options_.mode = StartMode::Wizard;
    }
  }

 private:
  void TakeValue(Switch which, const char* value, int index) {
    if (value[0] == '\0') return Fail(CommandLineError::MissingValue, index);
    if (std::strlen(value) >= kPathCapacity || HasForbiddenCharacter(value)) {
      return Fail(CommandLineError::UnfitPath, index);
    }
    if (which == Switch::Log) {
      // A log is a file: a name that ends in a separator names a folder.
      if (IsSeparator(value[std::strlen(value) - 1])) return Fail(CommandLineError::UnfitPath, index);
      CopyPath(options_.logPath, value);
      return;
    }
    if (!IsDrivePath(value) && !IsUncPath(value)) return Fail(CommandLineError::RelativeFolder, index);
    // "C:\" loses its separator when the folder is normalised, and "C:" is the drive's
    // current folder: a bare root is no folder to install into.
    if (!IsFullPath(value)) return Fail(CommandLineError::UnfitPath, index);
    CopyPath(which == Switch::InstallDir ? options_.installDir : options_.workDir, value);
  }

  void Fail(CommandLineError error, int index) {
    if (options_.error != CommandLineError::None) return;  // the first fault is the one reported
    options_.error = error;
    options_.errorArgument = index;
  }

  CommandLineOptions& options_;
  bool seen_[static_cast<int>(Switch::Count)] = {};
  int switchCount_ = 0;
};

}  // namespace

bool IsFullPath(const char* path) {
  if (IsUncPath(path)) return true;
  if (!IsDrivePath(path)) return false;
  for (std::size_t i = 3; path[i] != '\0'; ++i) {
    if (!IsSeparator(path[i])) return true;
  }
  return false;
}

CommandLineOptions ParseCommandLine(const char* const* arguments, int count) {
  CommandLineOptions options;
  Parser parser(options);
  for (int i = 0; i < count; ++i) parser.Take(arguments[i], i);
  parser.Finish();
  return options;
}
