#include "signature/signature_file.h"

#include <fcntl.h>

#include <charconv>
#include <sstream>
#include <stdexcept>

namespace restorix {

std::vector<SignatureRecord> LoadSignatureFile(int fd) {
  std::vector<SignatureRecord> records;
  std::array<std::uint8_t, SignatureRecord::kSize> bytes{};
  try {
    while (true) {
      if (ReadOrAbort(fd, bytes) != bytes.size()) return {};
      records.push_back(SignatureRecord::Decode(bytes));
      if (records.back().nextRecord == 0) return records;
    }
  } catch (const DeviceLostError&) {
    return {};
  }
}

std::optional<std::vector<SignatureRecord>> LoadSignatureFile(const std::filesystem::path& folder) {
  const UniqueFd file(::open((folder / "Signature").c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return std::nullopt;
  return LoadSignatureFile(file.get());
}

namespace {

// A decimal number, or a hexadecimal one after "0x".
std::uint32_t Number(const std::string& field, int line) {
  const bool hex = field.size() > 2 && field[0] == '0' && (field[1] | 0x20) == 'x';
  const char* begin = field.data() + (hex ? 2 : 0);
  const char* end = field.data() + field.size();
  std::uint32_t value = 0;
  const auto [at, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
  if (begin != end && error == std::errc{} && at == end) return value;
  throw std::runtime_error("line " + std::to_string(line) + ": not a number: '" + field + "'");
}

std::vector<std::uint8_t> Hex(const std::string& text, int line) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (const char c : text) {
    if (c != ' ') digits += c;
  }
  if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > 513) {
    throw std::runtime_error("line " + std::to_string(line) + ": bad signature '" + text + "'");
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(Number("0x" + digits.substr(i, 2), line)));
  }
  return bytes;
}

}  // namespace

std::vector<SignatureRecord> ParseSignatureTable(std::istream& table) {
  std::vector<SignatureRecord> records;
  std::string line;
  int number = 0;
  while (std::getline(table, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');)
      fields.push_back(field);
    if (fields.size() != 10) {
      throw std::runtime_error("line " + std::to_string(number) +
                               ": expected 10 tab-separated fields, found " +
                               std::to_string(fields.size()));
    }
    SignatureRecord r;
    r.SetName(fields[0]);
    r.SetExtension(fields[1]);
    r.SetCategory(fields[2]);
    r.sigOffset = static_cast<std::uint16_t>(Number(fields[3], number));
    const std::vector<std::uint8_t> signature = Hex(fields[4], number);
    r.sigLength = static_cast<std::uint8_t>(std::min<std::size_t>(signature.size(), 255));
    std::copy(signature.begin(), signature.begin() + r.sigLength, r.sigBytes.begin());
    r.typeCode = Number(fields[5], number);
    r.detectedSize = Number(fields[6], number);
    r.skipLength = Number(fields[7], number);
    r.skipValid = static_cast<std::uint8_t>(Number(fields[8], number));
    r.fallbackSize = Number(fields[9], number);
    records.push_back(r);
  }
  return records;
}

std::vector<std::uint8_t> EncodeSignatureFile(std::vector<SignatureRecord> records) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].nextRecord = i + 1 < records.size() ? 1 : 0;
    const auto encoded = records[i].Encode();
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  return bytes;
}

}  // namespace restorix
