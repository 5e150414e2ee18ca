#include "disk/rescue_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "platform/file_io.h"

namespace restorix {

RescueMap::RescueMap(std::uint64_t bytes) : size_(bytes) {
  if (bytes > 0) starts_.emplace(0, BlockStatus::Untried);
}

void RescueMap::Set(std::uint64_t position, std::uint64_t size, BlockStatus status) {
  if (position >= size_) return;
  const std::uint64_t end = size > size_ - position ? size_ : position + size;
  if (end == position) return;
  // The status that runs on past the end, kept by a start of its own there.
  if (end < size_) {
    const BlockStatus after = std::prev(starts_.upper_bound(end))->second;
    starts_.emplace(end, after);
  }
  const bool joinsBefore =
      position > 0 && std::prev(starts_.upper_bound(position - 1))->second == status;
  starts_.erase(starts_.lower_bound(position), starts_.lower_bound(end));
  // Neighbours of the same status become one block.
  if (!joinsBefore) starts_.emplace(position, status);
  const auto next = starts_.find(end);
  if (next != starts_.end() && next->second == status) starts_.erase(next);
}

std::optional<RescueBlock> RescueMap::Next(std::uint64_t from, BlockStatus status) const {
  if (from >= size_) return std::nullopt;
  for (auto at = std::prev(starts_.upper_bound(from)); at != starts_.end(); ++at) {
    if (at->second != status) continue;
    const auto next = std::next(at);
    const std::uint64_t end = next == starts_.end() ? size_ : next->first;
    const std::uint64_t start = std::max(at->first, from);
    return RescueBlock{start, end - start, status};
  }
  return std::nullopt;
}

std::uint64_t RescueMap::Bytes(BlockStatus status) const {
  std::uint64_t total = 0;
  for (const RescueBlock& block : blocks()) {
    if (block.status == status) total += block.size;
  }
  return total;
}

std::vector<RescueBlock> RescueMap::blocks() const {
  std::vector<RescueBlock> out;
  out.reserve(starts_.size());
  for (auto at = starts_.begin(); at != starts_.end(); ++at) {
    const auto next = std::next(at);
    const std::uint64_t end = next == starts_.end() ? size_ : next->first;
    out.push_back({at->first, end - at->first, at->second});
  }
  return out;
}

std::string RescueMap::Text() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char line[128];
  std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S", &local);
  std::string text = "# Mapfile. Created by Restorix\n# Current time: ";
  text += line;
  text += phase == RescuePhase::Finished ? "\n# Finished\n" : "\n";
  text += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08llX     %c               %d\n",
                static_cast<unsigned long long>(currentPosition), static_cast<char>(phase), pass);
  text += line;
  text += "#      pos        size  status\n";
  for (const RescueBlock& block : blocks()) {
    std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n",
                  static_cast<unsigned long long>(block.position),
                  static_cast<unsigned long long>(block.size), static_cast<char>(block.status));
    text += line;
  }
  return text;
}

namespace {

// The whitespace-separated words of one line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
      ++at;
    const std::size_t start = at;
    while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at])))
      ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

// A number as ddrescue writes them: 0x hexadecimal, or decimal.
std::optional<std::uint64_t> Number(std::string_view word) {
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    word.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (ec != std::errc() || end != word.data() + word.size() || word.empty()) return std::nullopt;
  return value;
}

std::optional<char> Status(std::string_view word, std::string_view allowed) {
  if (word.size() != 1 || allowed.find(word[0]) == std::string_view::npos) return std::nullopt;
  return word[0];
}

}  // namespace

std::optional<RescueMap> RescueMap::Parse(std::string_view text) {
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  RescueMap map;
  bool headSeen = false;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const auto words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (!headSeen) {
      // current_pos current_status [current_pass]
      const auto position = Number(words[0]);
      const auto phase = words.size() >= 2 ? Status(words[1], "?*/-FG+") : std::nullopt;
      if (!position || !phase || words.size() > 3) return std::nullopt;
      map.currentPosition = *position;
      map.phase = *phase == '*' || *phase == '/' || *phase == '+' ? static_cast<RescuePhase>(*phase)
                                                                  : RescuePhase::Copying;
      if (words.size() == 3) {
        const auto pass = Number(words[2]);
        if (!pass || *pass > 1000) return std::nullopt;
        map.pass = static_cast<int>(*pass);
      }
      headSeen = true;
      continue;
    }
    const auto position = Number(words[0]);
    const auto size = words.size() == 3 ? Number(words[1]) : std::nullopt;
    const auto status = words.size() == 3 ? Status(words[2], "?*/-+") : std::nullopt;
    if (!position || !size || !status || *size == 0 || *position != map.size_ ||
        *size > kLimit - *position) {
      return std::nullopt;
    }
    const auto blockStatus = static_cast<BlockStatus>(*status);
    const bool joins = !map.starts_.empty() && std::prev(map.starts_.end())->second == blockStatus;
    if (!joins) map.starts_.emplace(*position, blockStatus);
    map.size_ += *size;
  }
  if (!headSeen) return std::nullopt;
  return map;
}

std::filesystem::path RescueMapPath(const std::filesystem::path& image) {
  std::filesystem::path map = image;
  map += ".map";
  return map;
}

int SaveRescueMap(const RescueMap& map, const std::filesystem::path& path) {
  ReplacementFile file(path);
  if (file.fd() < 0) return file.error();
  const std::string text = map.Text();
  try {
    WriteOrAbort(file.fd(), Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  } catch (const DeviceLostError& lost) {
    return lost.error();
  }
  return file.Commit();
}

std::optional<RescueMap> LoadRescueMap(const std::filesystem::path& path) {
  // A map has a line per block; a file far beyond any real one is refused
  // rather than read.
  constexpr std::size_t kMaxMapBytes = std::size_t{256} << 20;
  int error = 0;
  const UniqueFd fd = OpenReadOnly(path, error);
  if (!fd) return std::nullopt;
  std::string text;
  std::vector<std::uint8_t> chunk(1 << 16);
  try {
    for (;;) {
      const std::size_t n = ReadOrAbort(fd.get(), chunk);
      text.append(reinterpret_cast<const char*>(chunk.data()), n);
      if (n < chunk.size()) break;
      if (text.size() > kMaxMapBytes) return std::nullopt;
    }
  } catch (const DeviceLostError&) {
    return std::nullopt;
  }
  return RescueMap::Parse(text);
}

}  // namespace restorix
