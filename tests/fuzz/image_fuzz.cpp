// A whole scan over a mutated disk image (sparse_image.h): the file system
// the boot sector names is scanned as deleted file recovery does and every
// item read back (its first 64 KiB: the data reader has targets of its
// own); an image without one is searched for signatures. Built once per
// file system, each with seeds of its own.
#include <cstddef>
#include <cstdint>

#include "signature_table.h"
#include "sparse_image.h"
#include "support/read_everything.h"

namespace {

// Up to 64 MiB, room for a FAT32 volume; a signature search covers the
// first 1 MiB only, so that a broken boot sector does not make a slow input.
constexpr std::uint32_t kMaxSectors = 1u << 17;
constexpr std::uint32_t kMaxCarvedSectors = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  const Bytes input(data, size);
  const OpenResult opened =
      Volume::Open(SourceKind::LogicalDrive, test::SparseImage(input, kMaxSectors), u"fuzz");
  if (opened && opened.volume->context().fsType() != FsType::None) {
    test::ScanAndReadEverything(*opened.volume, 64u << 10);
    return 0;
  }
  const OpenResult disk =
      Volume::Open(SourceKind::PhysicalDisk, test::SparseImage(input, kMaxCarvedSectors), u"fuzz");
  if (!disk) return 0;
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  RunScan(*disk.volume, ScanMode::Advanced, test::FuzzSignatureTable(), 1024, tree, {stop, events});
  return 0;
}
