#include "signature/signature_record.h"

#include <algorithm>

namespace restorix {

namespace {
template <std::size_t N, typename T>
void CopyOut(Bytes bytes, std::size_t offset, std::array<T, N>& field) {
  const Bytes part = Slice(bytes, offset, N);
  std::transform(part.begin(), part.end(), field.begin(),
                 [](std::uint8_t b) { return static_cast<T>(b); });
}
template <std::size_t N, typename T>
void CopyIn(MutableBytes bytes, std::size_t offset, const std::array<T, N>& field) {
  std::transform(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 [](T c) { return static_cast<std::uint8_t>(c); });
}
}  // namespace

SignatureRecord SignatureRecord::Decode(Bytes b) {
  SignatureRecord r;
  r.unused0 = u8(b, 0);
  r.selected = u8(b, 1);
  r.sigLength = u8(b, 2);
  r.sigOffset = le16(b, 3);
  CopyOut(b, 5, r.sigBytes);
  CopyOut(b, 518, r.typeName);
  CopyOut(b, 774, r.extension);
  r.fallbackSize = le32(b, 806);
  r.assumedSize = le32(b, 810);
  r.detectedSize = le32(b, 814);
  r.skipLength = le32(b, 818);
  r.skipValid = u8(b, 822);
  r.unused823 = u8(b, 823);
  CopyOut(b, 824, r.category);
  r.typeCode = le32(b, 840);
  r.nextRecord = le32(b, 844);
  return r;
}

std::array<std::uint8_t, SignatureRecord::kSize> SignatureRecord::Encode() const {
  std::array<std::uint8_t, kSize> b{};
  b[0] = unused0;
  b[1] = selected;
  b[2] = sigLength;
  StoreLE<std::uint16_t>(b, 3, sigOffset);
  CopyIn(b, 5, sigBytes);
  CopyIn(b, 518, typeName);
  CopyIn(b, 774, extension);
  StoreLE<std::uint32_t>(b, 806, fallbackSize);
  StoreLE<std::uint32_t>(b, 810, assumedSize);
  StoreLE<std::uint32_t>(b, 814, detectedSize);
  StoreLE<std::uint32_t>(b, 818, skipLength);
  b[822] = skipValid;
  b[823] = unused823;
  CopyIn(b, 824, category);
  StoreLE<std::uint32_t>(b, 840, typeCode);
  StoreLE<std::uint32_t>(b, 844, nextRecord);
  return b;
}

}  // namespace restorix
