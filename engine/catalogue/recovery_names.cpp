#include "catalogue/recovery_names.h"

#include "util/text.h"

namespace restorix {

namespace {

// Longest extension kept whole when a name is shortened.
constexpr std::size_t kMaxExtensionBytes = 16;

// Where the UTF-8 text may be cut at or before `bytes` without splitting a
// character.
std::size_t CharacterBoundary(const std::string& text, std::size_t bytes) {
  if (bytes >= text.size()) return text.size();
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
    --bytes;
  return bytes;
}

}  // namespace

std::string SafeFileName(std::u16string_view name) {
  std::string safe = Utf8FromUtf16(name);
  for (char& c : safe) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (safe.empty() || safe == "." || safe == "..") safe.insert(0, "_");
  return safe;
}

std::string ShortenName(const std::string& name, std::size_t maxBytes) {
  if (name.size() <= maxBytes) return name;
  const std::size_t dot = name.rfind('.');
  std::string extension;
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxExtensionBytes &&
      name.size() - dot < maxBytes) {
    extension = name.substr(dot);
  }
  const std::string stem = name.substr(0, name.size() - extension.size());
  return stem.substr(0, CharacterBoundary(stem, maxBytes - extension.size())) + extension;
}

std::string CollisionName(const std::string& name, std::uint32_t attempt) {
  if (attempt == 0) return name;
  const std::string prefix = "#" + std::to_string(attempt - 1);
  return prefix + ShortenName(name, kMaxNameBytes - prefix.size());
}

}  // namespace restorix
