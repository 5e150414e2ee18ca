// Where a deflate stream ends, found by inflating it (zlib): deflate data
// carries no length of its own. Used by gzip, and by ZIP entries whose sizes
// follow their data.
#pragma once

#include <array>
#include <cstdint>

#include "signature/detectors/detector.h"

struct z_stream_s;

namespace restorix {

class DeflateEnd {
 public:
  DeflateEnd();
  ~DeflateEnd();
  DeflateEnd(const DeflateEnd&) = delete;
  DeflateEnd& operator=(const DeflateEnd&) = delete;

  struct Stream {
    std::uint64_t end = 0;     // the position after the stream; 0: none
    std::uint32_t crc = 0;     // CRC-32 of the data it inflates to
    std::uint64_t length = 0;  // and that data's length
  };
  // Inflates the raw deflate stream at `pos`. `end` is 0 when the bytes are
  // no deflate stream or the source ends before the stream does.
  Stream Find(DetectorContext& context, SourceBytes& bytes, std::uint64_t pos);

 private:
  z_stream_s* stream_;
  bool ok_ = false;
  std::array<std::uint8_t, 1 << 16> out_{};
};

}  // namespace restorix
