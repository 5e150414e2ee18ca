// LZNT1, the chunked LZ77 compression of NTFS compressed files.
//
// A compression unit holds chunks, each standing for 4096 bytes of the file:
// a 16-bit header (low 12 bits: the chunk's data length - 1; bit 15: the
// data is compressed), then the data. A header of zero ends the unit early.
#pragma once

#include <cstddef>

#include "util/bytes.h"

namespace restorix {

inline constexpr std::size_t kLznt1ChunkBytes = 4096;

// True when the chunk headers of `in` walk to a terminator or to its exact
// end without any chunk running past it.
bool Lznt1ChunksFit(Bytes in);

// Decompresses the chunks of `in` into `out`, chunk k at byte k x 4096, never
// writing past the end of `out`. Bytes a chunk does not produce are left as
// they are (the caller clears `out`). Returns the end of the data produced.
std::size_t Lznt1Decompress(Bytes in, MutableBytes out);

}  // namespace restorix
