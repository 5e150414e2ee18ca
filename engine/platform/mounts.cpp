#include "platform/mounts.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace restorix {

namespace {

// mountinfo writes blank, tab, newline and backslash as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                    field.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

std::vector<MountEntry> ReadMounts(const std::filesystem::path& mountInfo) {
  std::vector<MountEntry> mounts;
  std::ifstream in(mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;)
      fields.push_back(word);
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (separator == fields.end() || fields.end() - separator < 3 || separator - fields.begin() < 6)
      continue;
    MountEntry entry;
    entry.device = fields[2];
    entry.root = UnescapeMountField(fields[3]);
    entry.mountPoint = UnescapeMountField(fields[4]);
    entry.fsType = separator[1];
    entry.source = UnescapeMountField(separator[2]);
    // Options are split before they are unescaped: a comma inside one is
    // written as \054.
    if (fields.end() - separator > 3) {
      std::istringstream options(separator[3]);
      for (std::string option; std::getline(options, option, ',');)
        entry.options.push_back(UnescapeMountField(option));
    }
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

}  // namespace restorix
