// The file-type detectors, one file each, and the type codes that select
// them. A type code without a detector is confirmed by its signature alone
// (code 0 never is).
#pragma once

#include <span>

#include "signature/detectors/detector.h"

namespace restorix {

inline constexpr std::uint32_t TYPE_SIZE_AT_4 = 4;
inline constexpr std::uint32_t TYPE_CR2 = 5;
inline constexpr std::uint32_t TYPE_NEF = 15;
inline constexpr std::uint32_t TYPE_MPEG_PROGRAM_STREAM = 18;
inline constexpr std::uint32_t TYPE_MIDI = 61;
inline constexpr std::uint32_t TYPE_MPEG_AUDIO = 62;
inline constexpr std::uint32_t TYPE_ATOM_CHAIN = 63;
inline constexpr std::uint32_t TYPE_WAVE = 68;
inline constexpr std::uint32_t TYPE_BMP = 142;
inline constexpr std::uint32_t TYPE_GIF = 161;
inline constexpr std::uint32_t TYPE_JPEG = 167;
inline constexpr std::uint32_t TYPE_PNG = 185;
inline constexpr std::uint32_t TYPE_TIFF = 203;
inline constexpr std::uint32_t TYPE_RASTER_HEADER = 207;
inline constexpr std::uint32_t TYPE_TIFF_LITTLE_ENDIAN = 208;
inline constexpr std::uint32_t TYPE_COMPOUND_DOCUMENT = 235;
inline constexpr std::uint32_t TYPE_ATOM_CHAIN_2 = 291;
inline constexpr std::uint32_t TYPE_ZIP = 601;
inline constexpr std::uint32_t TYPE_PDF = 602;
inline constexpr std::uint32_t TYPE_OGG = 603;
inline constexpr std::uint32_t TYPE_FLAC = 604;
inline constexpr std::uint32_t TYPE_MATROSKA = 605;
inline constexpr std::uint32_t TYPE_ISO_MEDIA = 606;
inline constexpr std::uint32_t TYPE_ASF = 607;
inline constexpr std::uint32_t TYPE_RIFF = 608;
inline constexpr std::uint32_t TYPE_SEVEN_ZIP = 609;
inline constexpr std::uint32_t TYPE_SQLITE = 610;
inline constexpr std::uint32_t TYPE_PSD = 611;
inline constexpr std::uint32_t TYPE_RAR = 612;
inline constexpr std::uint32_t TYPE_GZIP = 613;

std::uint32_t DetectBmp(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectSizeAt4(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectRasterHeader(DetectorContext& context, std::uint64_t hit,
                                 SignatureRecord& record);
std::uint32_t DetectWave(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectMidi(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectPng(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectAtomChain(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectJpeg(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectGif(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectMpegAudio(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
// MPEG audio is only tried where a sector starts with frame sync bits, "ID"
// (an ID3 tag) or "RI" (RIFF).
bool LooksLikeMpegAudio(Bytes sectorHead);
// A sector that the prefilter turned away is still looked up by its own
// bytes when the MPEG audio type is filed as "mp3".
bool IsMp3(const SignatureRecord& record);
std::uint32_t DetectMpegProgramStream(DetectorContext& context, std::uint64_t hit,
                                      SignatureRecord& record);
std::uint32_t DetectCompoundDocument(DetectorContext& context, std::uint64_t hit,
                                     SignatureRecord& record);

// Today's formats: each walks its file's own structure to the exact end,
// and refuses a hit whose structure does not check out. ZIP, Ogg, Matroska,
// ASF, RIFF and ISO media name what they find (docx, opus, webm, wma, ...).
std::uint32_t DetectZip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectPdf(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectOgg(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectFlac(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectMatroska(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectIsoMedia(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectAsf(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectRiff(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectSevenZip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectSqlite(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectPsd(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectRar(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);
std::uint32_t DetectGzip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record);

enum class TiffVariant { Generic, LittleEndian, Cr2, Nef };
std::uint32_t DetectTiffFamily(DetectorContext& context, std::uint64_t hit, SignatureRecord& record,
                               TiffVariant variant);

// Every registered detector, in the order of the table.
std::span<const DetectorEntry> Detectors();

}  // namespace restorix
