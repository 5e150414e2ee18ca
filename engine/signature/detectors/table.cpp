#include <algorithm>
#include <array>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

template <TiffVariant V>
std::uint32_t Tiff(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  return DetectTiffFamily(context, hit, record, V);
}

// Every type code that has a detector. A code not listed here is confirmed
// by its signature alone (code 0 never is).
constexpr std::array kDetectors{
    DetectorEntry{TYPE_SIZE_AT_4, DetectSizeAt4},
    DetectorEntry{TYPE_CR2, Tiff<TiffVariant::Cr2>},
    DetectorEntry{TYPE_NEF, Tiff<TiffVariant::Nef>},
    DetectorEntry{TYPE_MPEG_PROGRAM_STREAM, DetectMpegProgramStream},
    DetectorEntry{TYPE_MIDI, DetectMidi},
    DetectorEntry{TYPE_MPEG_AUDIO, DetectMpegAudio, LooksLikeMpegAudio, true, IsMp3},
    DetectorEntry{TYPE_ATOM_CHAIN, DetectAtomChain},
    DetectorEntry{TYPE_WAVE, DetectWave},
    DetectorEntry{TYPE_BMP, DetectBmp},
    DetectorEntry{TYPE_GIF, DetectGif},
    DetectorEntry{TYPE_JPEG, DetectJpeg},
    DetectorEntry{TYPE_PNG, DetectPng},
    DetectorEntry{TYPE_TIFF, Tiff<TiffVariant::Generic>},
    DetectorEntry{TYPE_RASTER_HEADER, DetectRasterHeader},
    DetectorEntry{TYPE_TIFF_LITTLE_ENDIAN, Tiff<TiffVariant::LittleEndian>},
    DetectorEntry{TYPE_COMPOUND_DOCUMENT, DetectCompoundDocument},
    DetectorEntry{TYPE_ATOM_CHAIN_2, DetectAtomChain},
    DetectorEntry{TYPE_ZIP, DetectZip},
    DetectorEntry{TYPE_PDF, DetectPdf},
    DetectorEntry{TYPE_OGG, DetectOgg},
    DetectorEntry{TYPE_FLAC, DetectFlac},
    DetectorEntry{TYPE_MATROSKA, DetectMatroska},
    DetectorEntry{TYPE_ISO_MEDIA, DetectIsoMedia},
    DetectorEntry{TYPE_ASF, DetectAsf},
    DetectorEntry{TYPE_RIFF, DetectRiff},
    DetectorEntry{TYPE_SEVEN_ZIP, DetectSevenZip},
    DetectorEntry{TYPE_SQLITE, DetectSqlite},
    DetectorEntry{TYPE_PSD, DetectPsd},
    DetectorEntry{TYPE_RAR, DetectRar},
    DetectorEntry{TYPE_GZIP, DetectGzip},
};

}  // namespace

const DetectorEntry* FindDetector(std::uint32_t typeCode) {
  const auto found = std::find_if(kDetectors.begin(), kDetectors.end(),
                                  [&](const DetectorEntry& e) { return e.typeCode == typeCode; });
  return found == kDetectors.end() ? nullptr : &*found;
}

std::span<const DetectorEntry> Detectors() {
  return kDetectors;
}

}  // namespace restorix
