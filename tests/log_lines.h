// The lines of an installation log (see source/shared/run_log.h), for tests at every level.
#pragma once
#include <string>
#include <vector>

// `content` split at its line ends, each line without its time stamp
// ("2024-05-31 14:02:07.123  "). A line without a well-formed stamp comes back as
// "unstamped: " and the whole line, so that it cannot match a step's expected text.
inline std::vector<std::string> SplitLogLines(const std::string& content) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < content.size();) {
    std::size_t end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    const bool stamped = line.size() > 25 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
                         line[13] == ':' && line[16] == ':' && line[19] == '.' && line.compare(23, 2, "  ") == 0;
    lines.push_back(stamped ? line.substr(25) : "unstamped: " + line);
    start = end + 2;
  }
  return lines;
}
