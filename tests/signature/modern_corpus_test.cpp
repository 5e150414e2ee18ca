// The signature search on files that today's tools wrote: the corpus that
// tests/fixtures/modern/make-modern.sh builds when the tools are installed,
// laid at sector boundaries in filler, with gaps between the files and
// packed one right after another. Every file comes back whole, no byte more,
// under the extension its content names.
#include <gtest/gtest.h>

#include "signature/carving_corpus.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

TEST(ModernCorpusTest, EveryFileComesBackWholeUnderItsExtension) {
  const auto files = test::ReadCorpus(test::Fixture("modern"));
  if (files.empty()) GTEST_SKIP() << "no modern corpus: make-modern.sh found none of its tools";
  for (const std::uint32_t sectorBytes : {512u, 4096u}) {
    for (const std::uint32_t maxGap : {24u, 0u}) {
      const test::Layout layout = test::LayOut(files, sectorBytes, maxGap);
      const auto volume =
          Volume::Open(SourceKind::PhysicalDisk,
                       std::make_shared<test::FakeSource>(layout.image, sectorBytes), u"modern")
              .volume;
      ASSERT_TRUE(volume);
      const std::string label =
          std::to_string(sectorBytes) + "-byte sectors, " + (maxGap != 0 ? "with gaps" : "packed");
      ItemTree tree;
      const int checked = test::CheckCarving(
          *volume, layout.placed, ScanMode::Advanced, label, tree, [](const test::CorpusFile& f) {
            return test::Expected{f.kind, f.bytes.size(), "its own length"};
          });
      EXPECT_EQ(checked, static_cast<int>(files.size())) << label;
      test::CheckNothingFromFiller(tree, layout, sectorBytes, label);
    }
  }
}

}  // namespace
}  // namespace restorix
