// Names under which recovered items are written. Names come from damaged or
// hostile disks, so they are made safe before they reach the file system.
#pragma once

#include <cstddef>
#include <string>

namespace restorix {

// The longest file name (in bytes of UTF-8) that Linux file systems take.
inline constexpr std::size_t kMaxNameBytes = 255;

// The UTF-8 name for an item: '/' and NUL become '_', lone surrogates
// U+FFFD; "." and ".." (and an empty name) never come out as they are.
std::string SafeFileName(std::u16string_view name);

// The name tried after `attempt` collisions: the name itself, then "#0" +
// name, "#1" + name, ... A name that the prefix would push past
// kMaxNameBytes is shortened, keeping its extension.
std::string CollisionName(const std::string& name, std::uint32_t attempt);

// Cuts a name to at most `maxBytes` bytes at a character boundary, keeping
// its extension (the part from the last '.', when it is short).
std::string ShortenName(const std::string& name, std::size_t maxBytes);

}  // namespace restorix
