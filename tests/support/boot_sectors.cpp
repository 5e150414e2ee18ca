#include "support/boot_sectors.h"

#include <algorithm>

#include "util/bytes.h"

namespace restorix::test {

void Put16(Sector& s, std::size_t o, std::uint16_t v) {
  StoreLE<std::uint16_t>(s, o, v);
}
void Put32(Sector& s, std::size_t o, std::uint32_t v) {
  StoreLE<std::uint32_t>(s, o, v);
}
void Put64(Sector& s, std::size_t o, std::uint64_t v) {
  StoreLE<std::uint64_t>(s, o, v);
}

namespace {
Sector Jump() {
  Sector s(512, 0);
  s[0] = 0xEB, s[1] = 0x3C, s[2] = 0x90;
  s[510] = 0x55, s[511] = 0xAA;
  return s;
}
}  // namespace

Sector Fat16Boot() {
  Sector s = Jump();
  Put16(s, 0x0B, 512);
  s[0x0D] = 4;
  Put16(s, 0x0E, 4);
  s[0x10] = 2;
  Put16(s, 0x11, 512);
  Put16(s, 0x16, 200);
  Put32(s, 0x20, 204800);
  std::copy_n("FAT16   ", 8, s.begin() + 0x36);
  return s;
}

Sector Fat32Boot() {
  Sector s = Jump();
  Put16(s, 0x0B, 512);
  s[0x0D] = 8;
  Put16(s, 0x0E, 32);
  s[0x10] = 2;
  Put32(s, 0x20, 614400);
  Put32(s, 0x24, 600);
  Put32(s, 0x2C, 2);
  Put16(s, 0x30, 1);
  Put16(s, 0x32, 6);
  return s;
}

Sector NtfsBoot(const NtfsGeometry& g) {
  Sector s = Jump();
  s[1] = 0x52;
  Put16(s, 0x0B, g.bytesPerSector);
  s[0x0D] = g.sectorsPerCluster;
  Put16(s, 0x24, 0x0080);
  Put64(s, 0x28, g.totalSectors);
  Put64(s, 0x30, g.mftCluster);
  Put64(s, 0x38, g.mftMirrorCluster);
  s[0x40] = g.recordSizeByte;
  s[0x44] = g.indexSizeByte;
  Put64(s, 0x48, g.serial);
  return s;
}

}  // namespace restorix::test
