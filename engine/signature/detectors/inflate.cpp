#include "signature/detectors/inflate.h"

#include <zlib.h>

#include <algorithm>

namespace restorix {

DeflateEnd::DeflateEnd() : stream_(new z_stream{}) {
  ok_ = inflateInit2(stream_, -MAX_WBITS) == Z_OK;
}

DeflateEnd::~DeflateEnd() {
  if (ok_) inflateEnd(stream_);
  delete stream_;
}

DeflateEnd::Stream DeflateEnd::Find(DetectorContext& context, SourceBytes& bytes,
                                    std::uint64_t pos) {
  Stream result;
  if (!ok_ || inflateReset(stream_) != Z_OK) return result;
  const std::uint64_t limit = bytes.bytesLeft();
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  std::uint64_t length = 0;
  while (pos < limit && context.running()) {
    const Bytes run = bytes.Run(pos);
    const std::uint64_t span = std::min<std::uint64_t>(run.size(), limit - pos);
    stream_->next_in = const_cast<Bytef*>(run.data());
    stream_->avail_in = static_cast<uInt>(span);
    int status = Z_OK;
    do {
      stream_->next_out = out_.data();
      stream_->avail_out = static_cast<uInt>(out_.size());
      status = inflate(stream_, Z_NO_FLUSH);
      const auto produced = static_cast<uInt>(out_.size() - stream_->avail_out);
      crc = static_cast<std::uint32_t>(crc32(crc, out_.data(), produced));
      length += produced;
    } while (status == Z_OK && stream_->avail_in > 0);
    pos += span - stream_->avail_in;
    if (status == Z_STREAM_END) return {pos, crc, length};
    if (status != Z_OK && status != Z_BUF_ERROR) return result;
  }
  return result;
}

}  // namespace restorix
