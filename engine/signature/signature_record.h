// One known file type: its signature (bytes and where in a sector), its
// names, the sizes given to what is carved for it, and the type code that
// selects its detector. Stored as 848-byte records in the Signature file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/bytes.h"

namespace restorix {

struct SignatureRecord {
  static constexpr std::size_t kSize = 848;

  std::uint8_t unused0 = 0;  // byte 0, not read by the engine
  std::uint8_t selected = 0;
  std::uint8_t sigLength = 0;
  std::uint16_t sigOffset = 0;
  std::array<std::uint8_t, 513> sigBytes{};
  std::array<char, 256> typeName{};
  std::array<char, 32> extension{};
  std::uint32_t fallbackSize = 0;
  std::uint32_t assumedSize = 0;
  std::uint32_t detectedSize = 0;
  std::uint32_t skipLength = 0;
  std::uint8_t skipValid = 0;
  std::uint8_t unused823 = 0;  // byte 823, not read by the engine
  std::array<char, 16> category{};
  std::uint32_t typeCode = 0;
  std::uint32_t nextRecord = 0;  // nonzero on every record of the file but the last

  // Not stored in the file: a detected length past 4 GiB, which detectedSize
  // and skipLength can only hold at their largest value; 0 otherwise.
  std::uint64_t largeSize = 0;

  static SignatureRecord Decode(Bytes bytes);
  std::array<std::uint8_t, kSize> Encode() const;

  // The zero-terminated texts, as bytes.
  std::string_view name() const { return Text(typeName); }
  std::string_view ext() const { return Text(extension); }
  std::string_view cat() const { return Text(category); }
  void SetName(std::string_view text) { SetText(typeName, text); }
  void SetExtension(std::string_view text) { SetText(extension, text); }
  void SetCategory(std::string_view text) { SetText(category, text); }
  // The first sigLength signature bytes.
  Bytes signature() const { return Bytes(sigBytes).first(sigLength); }

  friend bool operator==(const SignatureRecord&, const SignatureRecord&) = default;

 private:
  template <std::size_t N>
  static std::string_view Text(const std::array<char, N>& field) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
      ++n;
    return {field.data(), n};
  }
  template <std::size_t N>
  static void SetText(std::array<char, N>& field, std::string_view text) {
    field.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), N - 1), field.begin());
  }
};

}  // namespace restorix
