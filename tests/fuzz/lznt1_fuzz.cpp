// LZNT1 decompression of any bytes into a compression unit.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<std::uint8_t> unit(64 * 1024);
  const restorix::Bytes in(data, size);
  restorix::Lznt1ChunksFit(in);
  if (restorix::Lznt1Decompress(in, unit) > unit.size()) __builtin_trap();
  return 0;
}
