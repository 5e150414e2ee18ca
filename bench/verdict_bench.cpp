// What the recoverability verdict adds to a scan: runs the deleted-file scan
// of a volume (whose last pass cuts sizes and gives every deleted file its
// verdict), then on the same tree that last pass with and without the
// verdicts, and prints what the verdicts add as a share of the scan without
// them.
//   verdict_bench VOLUME_IMAGE [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "disk/volume.h"
#include "fs/item_reader.h"
#include "fs/recoverability.h"
#include "fs/scan.h"

int main(int argc, char** argv) {
  using namespace restorix;
  using Clock = std::chrono::steady_clock;
  if (argc < 2) {
    std::fprintf(stderr, "usage: verdict_bench VOLUME_IMAGE [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, argv[1]);
  if (!opened) {
    std::fprintf(stderr, "cannot open %s as a volume\n", argv[1]);
    return 1;
  }
  double best = 0, bestVerdict = 0;
  std::uint64_t files = 0;
  for (int round = 0; round < rounds; ++round) {
    const StopToken stop;
    TaskEvents events;
    ItemTree tree;
    const auto start = Clock::now();
    RunScan(*opened.volume, ScanMode::DeletedFiles, {}, 1024, tree, {stop, events});
    const auto scanned = Clock::now();
    CutClaimedSizes(*opened.volume, tree, stop);
    const auto cut = Clock::now();
    CutSizesAndAssess(*opened.volume, tree, stop, false);
    const auto assessed = Clock::now();
    const double scan = std::chrono::duration<double>(scanned - start).count();
    const double verdict =
        std::chrono::duration<double>((assessed - cut) - (cut - scanned)).count();
    if (round == 0 || scan < best) best = scan, bestVerdict = verdict;
    files = 0;
    WalkTree(tree.root(), [&](const ItemNode& n, int) { files += !n.isFolder(); });
  }
  std::printf(
      "deleted files %llu  scan with verdicts %.3f s  verdicts %.3f s  "
      "verdicts' share of the scan without them %.1f%%\n",
      static_cast<unsigned long long>(files), best, bestVerdict,
      100.0 * bestVerdict / (best - bestVerdict));
  return 0;
}
