#include "signature/detectors/detectors.h"

namespace restorix {

namespace {
template <TiffVariant V>
std::uint32_t Tiff(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  return DetectTiffFamily(context, hit, record, V);
}
}  // namespace

Detector DetectorFor(std::uint32_t typeCode) {
  switch (typeCode) {
    case TYPE_SIZE_AT_4:
      return DetectSizeAt4;
    case TYPE_CR2:
      return Tiff<TiffVariant::Cr2>;
    case TYPE_NEF:
      return Tiff<TiffVariant::Nef>;
    case TYPE_MPEG_PROGRAM_STREAM:
      return DetectMpegProgramStream;
    case TYPE_MIDI:
      return DetectMidi;
    case TYPE_MPEG_AUDIO:
      return DetectMpegAudio;
    case TYPE_ATOM_CHAIN:
    case TYPE_ATOM_CHAIN_2:
      return DetectAtomChain;
    case TYPE_WAVE:
      return DetectWave;
    case TYPE_BMP:
      return DetectBmp;
    case TYPE_GIF:
      return DetectGif;
    case TYPE_JPEG:
      return DetectJpeg;
    case TYPE_PNG:
      return DetectPng;
    case TYPE_TIFF:
      return Tiff<TiffVariant::Generic>;
    case TYPE_RASTER_HEADER:
      return DetectRasterHeader;
    case TYPE_TIFF_LITTLE_ENDIAN:
      return Tiff<TiffVariant::LittleEndian>;
    case TYPE_COMPOUND_DOCUMENT:
      return DetectCompoundDocument;
    default:
      return nullptr;
  }
}

}  // namespace restorix
