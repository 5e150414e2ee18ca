// Makes a seed for the image fuzz targets from a real image: the image is
// scanned as the target scans it, and the seed keeps the sectors that the
// scan read and that hold anything but zeros. Files' data is not read, so
// that the seed keeps the structures the fuzzer should mutate; nor are blank
// MFT records (not in use, no attributes), which hold nothing.
//   make_image_seed IMAGE SEED
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "fs/scan.h"
#include "signature_table.h"
#include "sparse_image.h"
#include "support/fake_source.h"

int main(int argc, char** argv) {
  using namespace restorix;
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_image_seed IMAGE SEED\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
  image.resize(image.size() / test::kSparseSector * test::kSparseSector);
  auto source = std::make_shared<test::FakeSource>(image);
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, source, u"seed");
  const bool carve = !opened || opened.volume->context().fsType() == FsType::None;
  const OpenResult scanned =
      carve ? Volume::Open(SourceKind::PhysicalDisk, source, u"seed") : opened;
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  RunScan(*scanned.volume, carve ? ScanMode::Advanced : ScanMode::DeletedFiles,
          carve ? test::FuzzSignatureTable() : std::vector<SignatureRecord>{}, 1024, tree,
          {stop, events});
  std::set<std::uint32_t> blank;
  if (!carve && opened.volume->context().fsType() == FsType::Ntfs) {
    const std::uint32_t recordSectors = opened.volume->context().mftRecordSectors();
    for (std::size_t s = 0; s + 1 < image.size() / test::kSparseSector; ++s) {
      const Bytes record = Bytes(image).subspan(s * test::kSparseSector);
      if (le32(record, 0) == 0x454C4946 && le16(record, 0x16) == 0 &&
          le32(record, le16(record, 0x14) % test::kSparseSector) == 0xFFFFFFFF)
        for (std::uint32_t i = 0; i < recordSectors; ++i)
          blank.insert(static_cast<std::uint32_t>(s + i));
    }
  }
  std::set<std::uint32_t> kept;
  for (const auto& [offset, length] : source->readLog()) {
    for (std::uint64_t s = offset / test::kSparseSector;
         s * test::kSparseSector < std::min<std::uint64_t>(offset + length, image.size()); ++s) {
      const auto sector = Bytes(image).subspan(s * test::kSparseSector, test::kSparseSector);
      if (!blank.contains(static_cast<std::uint32_t>(s)) &&
          std::any_of(sector.begin(), sector.end(), [](std::uint8_t b) { return b != 0; }))
        kept.insert(static_cast<std::uint32_t>(s));
    }
  }
  const std::vector<std::uint8_t> seed =
      test::SparseInput(image, std::vector<std::uint32_t>(kept.begin(), kept.end()));
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  std::printf("%s: %zu sectors kept, %zu bytes\n", argv[2], kept.size(), seed.size());
  return 0;
}
