// Scan-information files (.qns): a finished scan saved so that the user can
// go on checking and recovering items later without scanning again. The file
// holds the source's name, its volume geometry and the whole item tree with
// every check state.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "catalogue/item_tree.h"
#include "disk/volume.h"

namespace restorix {

inline constexpr std::uint32_t kScanInfoVersion = 0x000055AA;
inline constexpr std::size_t kNodeImageBytes = 44;
inline constexpr std::size_t kExtentImageBytes = 14;

// Writes the source name, volume geometry and tree to `path`, under a
// temporary name that replaces the file only once it is complete. False
// (with the errno in `error`, when given) when it cannot be written whole.
bool SaveScanInfo(const std::filesystem::path& path, const std::u16string& sourceName,
                  const VolumeContext& context, const ItemTree& tree, int* error = nullptr);

struct LoadResult {
  bool loaded = false;     // the file was a scan-information file
  bool truncated = false;  // the file ended early; what was read is kept
  int error = 0;           // errno when the file could not be opened
  std::u16string sourceName;
  VolumeContext context;
  ItemTree tree;
  // From LoadScanInfo: opening the source again. ReadScanInfo leaves it
  // CannotOpen.
  OpenResult reopened;
  // What the scan's items are read from when loaded: the reopened source, or
  // a detached volume with the stored name and geometry whose reads fail.
  std::shared_ptr<const Volume> volume;
};

// Reads the file without opening its source.
LoadResult ReadScanInfo(const std::filesystem::path& path);

// ReadScanInfo, then opens the source again: the stored path as a volume (or
// one of its partitions whose geometry is the stored one) when the stored
// file system is nonzero, as a whole disk when it is 0. `sourceOverride`,
// when given, is opened instead of the stored path. A source whose volume
// differs from the stored context (geometry or serial number) is refused
// with OpenFailure::OtherVolume. The items' stored sizes are then cut to
// what the reopened volume holds, and every deleted file its verdict from
// what the volume says now (CutSizesAndAssess). A nonzero `offset`
// (512-byte units) opens the volume that starts there, for a scan of a
// volume that no partition table lists.
LoadResult LoadScanInfo(const std::filesystem::path& path,
                        const std::filesystem::path& sourceOverride = {}, std::uint64_t offset = 0);

// "QN_RSX_Scan_Info# Sat, 05-Dec-2026"
std::string ScanInfoFileName(const std::tm& local);

// The chosen path with ".qns" appended unless its extension is exactly "qns".
std::filesystem::path WithScanInfoExtension(const std::filesystem::path& chosen);

}  // namespace restorix
