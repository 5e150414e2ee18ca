// Bounds-checked little- and big-endian field access over raw buffers.
//
// Every parser reads on-disk structures through these helpers. A field that
// does not lie wholly inside the buffer reads as zero, the same value a cleared
// buffer holds after a failed read, so damaged data simply fails the checks
// that follow instead of reading outside its buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace restorix {

using Bytes = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;

namespace detail {
template <typename T, bool BigEndian>
constexpr T Load(Bytes bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return 0;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    const std::size_t shift = BigEndian ? (sizeof(T) - 1 - i) * 8 : i * 8;
    value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << shift);
  }
  return value;
}
}  // namespace detail

constexpr std::uint8_t u8(Bytes b, std::size_t offset) {
  return offset < b.size() ? b[offset] : 0;
}
constexpr std::uint16_t le16(Bytes b, std::size_t o) {
  return detail::Load<std::uint16_t, false>(b, o);
}
constexpr std::uint32_t le32(Bytes b, std::size_t o) {
  return detail::Load<std::uint32_t, false>(b, o);
}
constexpr std::uint64_t le64(Bytes b, std::size_t o) {
  return detail::Load<std::uint64_t, false>(b, o);
}
constexpr std::uint16_t be16(Bytes b, std::size_t o) {
  return detail::Load<std::uint16_t, true>(b, o);
}
constexpr std::uint32_t be32(Bytes b, std::size_t o) {
  return detail::Load<std::uint32_t, true>(b, o);
}

// A little-endian field of the type's own size (0 when it does not fit).
template <typename T>
constexpr T LoadLE(Bytes b, std::size_t offset) {
  return detail::Load<T, false>(b, offset);
}

// Stores into a buffer that the caller sized for the field; out-of-range
// stores are dropped, like out-of-range loads.
template <typename T>
constexpr void StoreLE(MutableBytes b, std::size_t offset, T value) {
  if (offset > b.size() || b.size() - offset < sizeof(T)) return;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    b[offset + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  }
}

// The bytes [offset, offset + length) of a buffer, cut to what the buffer holds.
constexpr Bytes Slice(Bytes b, std::size_t offset, std::size_t length) {
  if (offset >= b.size()) return {};
  return b.subspan(offset, std::min(length, b.size() - offset));
}

// Checked 64-bit arithmetic for sector and byte positions that disk values
// feed: nullopt instead of a wrapped result.
constexpr std::optional<std::uint64_t> CheckedMul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}
constexpr std::optional<std::uint64_t> CheckedAdd(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

}  // namespace restorix
