// What the recoverability verdict adds to a scan: the deleted-file scan of a
// volume as RunScan does it (its last pass cuts sizes and gives every
// deleted file its verdict), against the same scan whose last pass only cuts
// sizes. Prints the best time of each over the rounds and the difference as
// a share of the scan without verdicts.
//   verdict_bench VOLUME_IMAGE [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "disk/volume.h"
#include "fs/exfat_scan.h"
#include "fs/fat_scan.h"
#include "fs/item_reader.h"
#include "fs/ntfs_scan.h"
#include "fs/scan.h"

namespace {

using namespace restorix;

// RunScan's deleted-file scan without the verdicts.
void ScanWithoutVerdicts(const Volume& volume, ItemTree& tree, TaskControl task) {
  tree.StartScan(RootIdFor(volume.context()));
  ScanFileSystem(volume, tree, task);
  tree.FinishScan();
  CutClaimedSizes(volume, tree, task.stop);
}

template <typename Run>
double Seconds(Run&& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: verdict_bench VOLUME_IMAGE [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, argv[1]);
  if (!opened || opened.volume->context().fsType() == FsType::None) {
    std::fprintf(stderr, "cannot open %s as a volume\n", argv[1]);
    return 1;
  }
  const Volume& volume = *opened.volume;
  const StopToken stop;
  TaskEvents events;
  double with = 0, without = 0;
  std::uint64_t files = 0;
  for (int round = 0; round < rounds; ++round) {
    // Which goes first changes from round to round: the second one of a
    // round finds the heap the first one left.
    ItemTree plain, judged;
    double a = 0, b = 0;
    const auto runPlain = [&] {
      a = Seconds([&] { ScanWithoutVerdicts(volume, plain, {stop, events}); });
    };
    const auto runJudged = [&] {
      b = Seconds([&] {
        RunScan(volume, ScanMode::DeletedFiles, {}, 1024, judged, {stop, events});
      });
    };
    if (round % 2 == 0) {
      runPlain();
      runJudged();
    } else {
      runJudged();
      runPlain();
    }
    without = round == 0 ? a : std::min(without, a);
    with = round == 0 ? b : std::min(with, b);
    files = 0;
    WalkTree(judged.root(), [&](const ItemNode& n, int) { files += !n.isFolder(); });
  }
  std::printf("deleted files %llu  scan %.3f s  with verdicts %.3f s  verdicts add %.1f%%\n",
              static_cast<unsigned long long>(files), without, with,
              100.0 * (with - without) / without);
  return 0;
}
