// Run lists of any bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/ntfs_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<restorix::RunNode> runs;
  restorix::DecodeRunList(restorix::Bytes(data, size), 0, runs);
  if (runs.size() > size) __builtin_trap();  // every run costs at least one byte
  return 0;
}
