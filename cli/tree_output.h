// Printing an item tree: an indented listing for people, one JSON document
// for programs.
#pragma once

#include <cstdint>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/read_faults.h"
#include "disk/volume_context.h"
#include "tasks/totals.h"

namespace restorix::cli {

// What the listing says about a scan: its source, file system and tree,
// and the volume's sectors with those its boot sector claims (more where the
// volume was cut to its source).
struct ScanView {
  const std::u16string& source;
  FsType fsType;
  const ItemNode* root;
  std::uint64_t sectors = 0;
  std::uint64_t claimedSectors = 0;
  // The sectors the scan could not read; null when not known.
  const std::vector<SectorRange>* unreadable = nullptr;
};

// {"count": N, "ranges": [{"first": F, "count": C}, ...]}: the value of a
// document's "unreadableSectors".
nlohmann::ordered_json UnreadableJson(const std::vector<SectorRange>& ranges);

// "the boot sector claims N sectors; the source holds M: the volume is read
// as M sectors", or empty when the volume was not cut.
std::string VolumeCutNote(const ScanView& scan);

Totals CountItems(const ItemNode* root);

// Walks the tree in order with each item's path (names from below the root
// joined with "/") and where in the path its own name starts.
using PathVisit =
    std::function<void(const ItemNode&, const std::string& path, std::size_t nameStart)>;
void WalkWithPaths(const ItemNode* root, const PathVisit& visit);

// The whole scan document (source, fsType, mode, completed, volumeCut where
// the volume was cut to its source, totals, items; each item with path,
// name, folder, live, size, claimedSize where the size was cut, id,
// parentId, origin, dates, full times (ISO 8601, null where the file system
// keeps none), check state, recoverability verdict and its
// percentage (null where there is none), and firstSector for carved items),
// written item by item so that a large scan is never held twice in memory.
void WriteScanJson(std::ostream& out, const ScanView& scan, const std::string& mode,
                   bool completed);

// The same document for some items only (what `find` found), in the order given.
void WriteItemsJson(std::ostream& out, const ScanView& scan, const std::string& mode,
                    bool completed, const std::vector<const ItemNode*>& items);

// An item's path: names from below the root joined with "/"; one longer
// than PATH_MAX is cut at the front to "..." and the names that fit.
std::string PathOf(const ItemNode& node);

// Text from a disk made safe for a terminal: control characters (which a
// hostile name can use to move the cursor or forge lines) written as \xNN,
// C1 controls and bidirectional overrides (which make a name read as
// another) as \uNNNN.
std::string Printable(std::string_view text);

// Prints a JSON document to standard output. Paths and labels from the
// system may hold bytes that are not UTF-8; those are replaced rather than
// failing the command after its work is done.
template <typename Json>
void PrintJson(const Json& document) {
  std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

// An indented listing of the tree with sizes (and the claims they were cut
// from), states and dates, after the volume's cut note.
void PrintTree(const ScanView& scan);

}  // namespace restorix::cli
