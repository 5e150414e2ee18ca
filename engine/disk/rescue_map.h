// The state of an image being rescued from a failing source, in the mapfile
// format of GNU ddrescue: which byte ranges are copied, bad, or not yet tried
// (or tried once and waiting for a closer look), and where the copy stands.
// Written beside the image as the copy goes, so that a stopped or crashed
// run resumes where it was, and ddrescuelog can read it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace restorix {

enum class BlockStatus : char {
  Untried = '?',     // never read
  NonTrimmed = '*',  // a read of the block failed; its edges are not yet read sector by sector
  NonScraped = '/',  // its edges are read; its inside is not yet read sector by sector
  Bad = '-',         // a sector that failed when read on its own
  Finished = '+',    // copied
};

// Where a rescue stands: the phase is the status of the blocks it works on
// ('+' once all is done).
enum class RescuePhase : char {
  Copying = '?',
  Trimming = '*',
  Scraping = '/',
  Finished = '+',
};

struct RescueBlock {
  std::uint64_t position = 0;
  std::uint64_t size = 0;
  BlockStatus status = BlockStatus::Untried;
  bool operator==(const RescueBlock&) const = default;
};

class RescueMap {
 public:
  // `bytes` bytes, all untried.
  explicit RescueMap(std::uint64_t bytes);

  // Gives [position, position + size) the status (clipped to the map).
  void Set(std::uint64_t position, std::uint64_t size, BlockStatus status);
  // The first block with the status that ends after `from`, cut to start at
  // `from` or later; nullopt when there is none.
  std::optional<RescueBlock> Next(std::uint64_t from, BlockStatus status) const;
  // How many bytes have the status.
  std::uint64_t Bytes(BlockStatus status) const;
  // The blocks in order, neighbours of one status joined; together they
  // cover [0, size()).
  std::vector<RescueBlock> blocks() const;
  std::uint64_t size() const { return size_; }

  std::uint64_t currentPosition = 0;
  RescuePhase phase = RescuePhase::Copying;
  int pass = 1;

  // The mapfile text.
  std::string Text() const;
  // Reads a mapfile; nullopt for anything that is not one (bad syntax,
  // blocks that leave gaps, overlap, or run past 2^63).
  static std::optional<RescueMap> Parse(std::string_view text);

 private:
  RescueMap() = default;
  std::uint64_t size_ = 0;
  std::map<std::uint64_t, BlockStatus> starts_;  // each block runs to the next start
};

// The map of an image: its path with ".map" added.
std::filesystem::path RescueMapPath(const std::filesystem::path& image);

// Writes the map under a temporary name and renames it over `path`. 0 or
// an errno.
int SaveRescueMap(const RescueMap& map, const std::filesystem::path& path);
// Reads the map at `path`; nullopt when it cannot be read or is no map.
std::optional<RescueMap> LoadRescueMap(const std::filesystem::path& path);

}  // namespace restorix
