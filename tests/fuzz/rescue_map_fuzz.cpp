// ddrescue mapfiles of any text. A map that parses covers its size with
// blocks that join up, and reads back the same from its own text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "disk/rescue_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using restorix::RescueMap;
  const auto map = RescueMap::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!map) return 0;
  std::uint64_t end = 0;
  for (const restorix::RescueBlock& block : map->blocks()) {
    if (block.position != end || block.size == 0) __builtin_trap();
    end += block.size;
  }
  if (end != map->size()) __builtin_trap();
  const auto again = RescueMap::Parse(map->Text());
  if (!again || again->blocks() != map->blocks() || again->pass != map->pass ||
      again->currentPosition != map->currentPosition || again->phase != map->phase) {
    __builtin_trap();
  }
  return 0;
}
