// Crashes on one planted input, so that the fuzz runner proves it reports a
// crash as a failure.
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 5 && std::memcmp(data, "CRASH", 5) == 0) __builtin_trap();
  return 0;
}
