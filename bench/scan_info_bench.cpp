// Saving and loading a scan of 1,000,000 items: the time each takes and the
// memory the loaded tree costs per item.
//   build/release/bench/scan_info_bench [ITEMS] [FOLDER]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "catalogue/scan_info.h"
#include "util/text.h"

namespace {

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A tree like an NTFS scan: folders of 1000 files, each with one extent.
void BuildTree(restorix::ItemTree& tree, std::size_t items) {
  using namespace restorix;
  ItemNode* root = tree.NewRoot();
  ItemNode* folder = nullptr;
  for (std::size_t i = 0; i < items; ++i) {
    ItemNode* node = tree.NewNode();
    if (i % 1000 == 0) {
      node->name = u"folder " + restorix::Utf16FromUtf8(std::to_string(i / 1000));
      node->flags = ItemFlags::Folder;
      tree.AddChild(root, node);
      folder = node;
      continue;
    }
    node->name = u"IMG_" + restorix::Utf16FromUtf8(std::to_string(i)) + u".JPG";
    node->size = 1000 + i;
    node->id = static_cast<std::uint32_t>(i);
    node->location = NtfsRecord{node->id, {{100000 + 2 * i, 0x98}}};
    node->checked = i % 2;
    tree.AddChild(folder, node);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t items = argc > 1 ? std::stoul(argv[1]) : 1000000;
  const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  const auto file = folder / "restorix-bench.qns";

  const long before = PeakKiB();
  long built = 0;
  double saveSeconds = 0;
  {
    restorix::ItemTree tree;
    BuildTree(tree, items);
    built = PeakKiB();
    restorix::VolumeContext context;
    context.setFsType(restorix::FsType::Ntfs);
    const auto start = std::chrono::steady_clock::now();
    if (!restorix::SaveScanInfo(file, u"/dev/sdb1", context, tree)) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
      return 1;
    }
    saveSeconds = Seconds(start);
  }
  const long beforeLoad = PeakKiB();
  const auto start = std::chrono::steady_clock::now();
  const auto result = restorix::LoadScanInfo(file, "/nonexistent");
  const double loadSeconds = Seconds(start);
  const long afterLoad = PeakKiB();
  const auto bytes = std::filesystem::file_size(file);
  std::filesystem::remove(file);
  if (!result.loaded) return 1;

  std::printf("items: %zu, file: %.1f MiB (%.1f bytes per item)\n", items, bytes / 1048576.0,
              static_cast<double>(bytes) / items);
  std::printf("save: %.3f s (%.2f us per item)\n", saveSeconds, saveSeconds * 1e6 / items);
  std::printf("load: %.3f s (%.2f us per item)\n", loadSeconds, loadSeconds * 1e6 / items);
  std::printf(
      "memory of the tree: %.0f bytes per item built, peak grew %.0f bytes per item on load\n",
      (built - before) * 1024.0 / items,
      (afterLoad > beforeLoad ? afterLoad - beforeLoad : afterLoad - before) * 1024.0 / items);
  return 0;
}
