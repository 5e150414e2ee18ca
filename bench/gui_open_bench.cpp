// Opening a scan of 1,000,000 items in the desktop program: how long until
// the window answers with the tree shown, how long a folder of 100,000
// items takes to be listed and sorted, and the memory it all takes.
//   gui_open_bench make SCAN.qns VOLUME  a scan of VOLUME (any volume image)
//                                       with 900 folders of 1000 files and
//                                       one folder of 100,000
//   gui_open_bench tree SCAN.qns         loads the tree alone
//   gui_open_bench open SCAN.qns         opens it in the main window
// Each prints its figures as name=value lines.
#include <QApplication>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "catalogue/scan_info.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui/startup.h"
#include "util/text.h"

namespace {

using namespace restorix;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Peak resident memory of this process, in KiB.
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

ItemNode* AddFolder(ItemTree& tree, ItemNode* parent, ItemNode* after, const std::string& name) {
  ItemNode* folder = tree.NewNode();
  folder->name = Utf16FromUtf8(name);
  folder->flags = ItemFlags::Folder;
  tree.AddChildAfter(parent, after, folder);
  return folder;
}

void AddFiles(ItemTree& tree, ItemNode* folder, std::size_t count, std::size_t& made) {
  ItemNode* previous = nullptr;
  for (std::size_t i = 0; i < count; ++i, ++made) {
    ItemNode* file = tree.NewNode();
    // Names in no particular order, so that sorting has work to do.
    file->name = u"IMG_" + Utf16FromUtf8(std::to_string((made * 7919) % 1000003)) + u".JPG";
    file->size = 1000 + made % 5000000;
    file->accessDate = file->createDate = static_cast<std::uint16_t>(0x5000 + made % 2000);
    file->id = static_cast<std::uint32_t>(made);
    file->location = NtfsRecord{file->id, {{100000 + 2 * made, 0x98}}};
    tree.AddChildAfter(folder, previous, file);
    previous = file;
  }
}

int Make(const char* scan, const char* volumePath) {
  const OpenResult volume = Volume::Open(SourceKind::LogicalDrive, volumePath);
  if (!volume) {
    std::fprintf(stderr, "cannot open %s as a volume\n", volumePath);
    return 1;
  }
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  root->name = u".";
  root->flags = ItemFlags::Folder | ItemFlags::Live;
  std::size_t made = 1;
  ItemNode* big = AddFolder(tree, root, nullptr, "big folder");
  ++made;
  AddFiles(tree, big, 100000, made);
  ItemNode* previous = big;
  for (int i = 0; made < 1000000; ++i) {
    previous = AddFolder(tree, root, previous, "folder " + std::to_string(i));
    ++made;
    AddFiles(tree, previous, std::min<std::size_t>(999, 1000000 - made), made);
  }
  if (!SaveScanInfo(scan, volume.volume->sourceName(), volume.volume->context(), tree)) return 1;
  std::printf("items=%zu\n", made);
  return 0;
}

int Tree(const char* scan) {
  const LoadResult loaded = LoadScanInfo(scan);
  if (!loaded.loaded) return 1;
  std::printf("tree_peak_kib=%ld\n", PeakKiB());
  return 0;
}

int Open(int argc, char** argv, const char* scan) {
  const auto start = Clock::now();
  QApplication app(argc, argv);
  QApplication::setStyle("Fusion");
  StartupProbes probes;
  probes.rawAccess = [] { return RawAccess::Granted; };
  auto started = StartUp({"restorix-gui", "--no-tip", QString::fromLocal8Bit(scan)}, probes);
  if (!started) return 1;
  MainFrame* frame = started->frame.get();
  // Queued after the open that start-up queued: runs once the window has the
  // tree and answers again.
  QTimer::singleShot(0, frame, [&] {
    QApplication::processEvents();
    const double usable = Seconds(start);
    ItemViews* views = frame->views();
    ItemNode* big = frame->tree().root()->firstChild;
    // The list starts in the large-icon view.
    auto at = Clock::now();
    views->OpenFolder(big);
    QApplication::processEvents();
    const double iconsListed = Seconds(at);
    views->OpenFolder(frame->tree().root());
    at = Clock::now();
    views->SetViewMode(ViewMode::Details);
    views->OpenFolder(big);
    QApplication::processEvents();
    const double listed = Seconds(at);
    at = Clock::now();
    views->detailsView()->sortByColumn(0, Qt::AscendingOrder);
    QApplication::processEvents();
    const double sorted = Seconds(at);
    std::printf("rows=%d\nicons_s=%.3f\nlist_s=%.3f\nsort_s=%.3f\nusable_s=%.3f\npeak_kib=%ld\n",
                views->listModel().rowCount(), iconsListed, listed, sorted, usable, PeakKiB());
    QApplication::quit();
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "make" && argc == 4) return Make(argv[2], argv[3]);
  if (mode == "tree") return Tree(argv[2]);
  if (mode == "open") return Open(argc, argv, argv[2]);
  std::fprintf(stderr,
               "usage: gui_open_bench make SCAN.qns VOLUME | tree SCAN.qns | open SCAN.qns\n");
  return 2;
}
