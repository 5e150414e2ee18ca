// Signature files of any bytes: the records loaded, then searched for over
// a small disk made of the same bytes, so that forged lengths, offsets and
// skips reach the index and the walk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fs/scan.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  static const int fd = ::memfd_create("signature", MFD_CLOEXEC);
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      ::lseek(fd, 0, SEEK_SET) != 0)
    __builtin_trap();
  const std::vector<SignatureRecord> types = LoadSignatureFile(fd);
  if (types.empty()) return 0;
  std::vector<std::uint8_t> disk(data, data + size);
  disk.resize((disk.size() + 511) / 512 * 512, 0);
  const OpenResult opened = Volume::Open(
      SourceKind::PhysicalDisk, std::make_shared<test::FakeSource>(std::move(disk)), u"fuzz");
  if (!opened) return 0;
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  RunScan(*opened.volume, ScanMode::Advanced, types, 1024, tree, {stop, events});
  return 0;
}
