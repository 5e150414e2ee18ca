// UTF-8 and UTF-16 conversion. Names read from disk stay UTF-16; paths,
// terminal output and log files are UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "util/bytes.h"

namespace restorix {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);
// Lone surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
// UTF-16 as disks store it: little-endian units, as many as the bytes hold
// whole.
std::u16string Utf16FromLittleEndian(Bytes units);
// Each byte becomes one UTF-16 unit, without any code page.
std::u16string Widen(std::string_view bytes);

}  // namespace restorix
