// The signature walk over any bytes, every known type selected; and each
// detector alone at sector 0 (the first input byte picks which).
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fs/scan.h"
#include "signature/detectors/detectors.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"

namespace {

const std::vector<restorix::SignatureRecord>& Table() {
  static const std::vector<restorix::SignatureRecord> table = [] {
    std::ifstream tsv(RESTORIX_SIGNATURE_TABLE);
    return restorix::ParseSignatureTable(tsv);
  }();
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 2) return 0;
  const std::uint8_t choice = data[0];
  std::vector<std::uint8_t> disk(data + 1, data + size);
  disk.resize((disk.size() + 511) / 512 * 512 + 1024, 0);

  Engine engine;
  engine.OpenSource(SOURCE_PHYSICAL_DISK, std::make_unique<test::FakeSource>(disk), u"fuzz");
  engine.keepRunning = 1;
  if (choice < 128) {
    engine.selectedTypes = SelectTypes(
        Table(), [](const SignatureRecord&) { return true; }, 1024);
    RunScan(engine, true, RunSignatureSearch);
    return 0;
  }
  static const std::uint32_t kCodes[] = {4,   5,   15,  18,  61,  62,  63,  68,
                                         142, 161, 167, 185, 203, 207, 208, 235};
  ClaimedSectors claims;
  DetectorContext context{engine, claims};
  SignatureRecord record;
  DetectorFor(kCodes[choice % std::size(kCodes)])(context, 0, record);
  return 0;
}
