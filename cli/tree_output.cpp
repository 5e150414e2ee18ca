#include "tree_output.h"

#include <climits>
#include <cstdio>
#include <string_view>
#include <vector>

#include "fs/recoverability.h"
#include "util/fat_date.h"
#include "util/item_time.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

// A JSON string literal for UTF-8 text.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t plain = 0;  // start of the characters not yet written
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u >= 0x20 && u != '"' && u != '\\') continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
    if (u >= 0x20) {
      out += '\\';
      out += text[i];
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    }
  }
  out.append(text.substr(plain));
  out += '"';
}

void AppendJsonDate(std::string& out, std::uint16_t fatDate) {
  if (fatDate == 0) {
    out += "null";
  } else {
    AppendJsonString(out, IsoDateFromFatDate(fatDate));
  }
}

// One item, written straight into `out` (a scan can list millions).
void AppendItemJson(std::string& out, const ItemNode& node, std::string_view path,
                    std::size_t nameStart) {
  const auto number = [&](std::uint64_t v) { out += std::to_string(v); };
  out += "{\"path\":";
  AppendJsonString(out, path);
  out += ",\"name\":";
  AppendJsonString(out, path.substr(nameStart));
  out += node.isFolder() ? ",\"folder\":true" : ",\"folder\":false";
  out += node.isLive() ? ",\"live\":true,\"size\":" : ",\"live\":false,\"size\":";
  number(node.size);
  if (node.claimedSize != 0) {
    out += ",\"claimedSize\":";
    number(node.claimedSize);
  }
  out += ",\"id\":";
  number(node.id);
  out += ",\"parentId\":";
  number(node.parentId);
  out += ",\"origin\":";
  number(static_cast<std::uint64_t>(node.origin));
  out += ",\"createDate\":";
  AppendJsonDate(out, node.createDate);
  out += ",\"accessDate\":";
  AppendJsonDate(out, node.accessDate);
  for (const auto& [key, time] : {std::pair{",\"created\":", &node.times.created},
                                  std::pair{",\"modified\":", &node.times.modified},
                                  std::pair{",\"accessed\":", &node.times.accessed}}) {
    out += key;
    if (time->known()) {
      AppendJsonString(out, IsoTime(*time));
    } else {
      out += "null";
    }
  }
  out += node.checked ? ",\"checked\":true" : ",\"checked\":false";
  if (const char* verdict = RecoverableName(node.recoverable.state)) {
    out += ",\"recoverable\":";
    AppendJsonString(out, verdict);
    out += ",\"recoverablePercent\":";
    number(node.recoverable.percent);
  } else {
    out += ",\"recoverable\":null,\"recoverablePercent\":null";
  }
  if (const auto* carved = std::get_if<Carved>(&node.location); carved && !node.isFolder()) {
    out += ",\"firstSector\":";
    number(carved->firstSector);
  }
  out += '}';
}

}  // namespace

nlohmann::ordered_json UnreadableJson(const std::vector<SectorRange>& ranges) {
  nlohmann::ordered_json out;
  out["count"] = SectorCount(ranges);
  out["ranges"] = nlohmann::ordered_json::array();
  for (const SectorRange& range : ranges)
    out["ranges"].push_back({{"first", range.first}, {"count", range.count}});
  return out;
}

Totals CountItems(const ItemNode* root) {
  Totals totals;
  WalkTree(root, [&](const ItemNode& node, int) { AddToTotals(totals, node); });
  return totals;
}

void WalkWithPaths(const ItemNode* root, const PathVisit& visit) {
  std::string path;
  std::vector<std::size_t> ends;  // where the path of each depth ends
  WalkTree(root, [&](const ItemNode& node, int depth) {
    ends.resize(static_cast<std::size_t>(depth - 1));
    path.resize(ends.empty() ? 0 : ends.back());
    if (!ends.empty()) path += '/';
    const std::size_t nameStart = path.size();
    path += Utf8FromUtf16(node.name);
    ends.push_back(path.size());
    visit(node, path, nameStart);
  });
}

namespace {

// The document's head: source, fsType, mode, completed and totals, then
// the items written by `items` through `add`.
template <typename Items>
void WriteDocument(std::ostream& out, const ScanView& scan, const std::string& mode, bool completed,
                   const Totals& totals, Items&& items) {
  nlohmann::ordered_json head;
  head["source"] = Utf8FromUtf16(scan.source);
  head["fsType"] = static_cast<int>(scan.fsType);
  head["mode"] = mode;
  head["completed"] = completed;
  if (scan.claimedSectors > scan.sectors)
    head["volumeCut"] = {{"claimedSectors", scan.claimedSectors}, {"sectors", scan.sectors}};
  head["totals"] = {{"files", totals.files}, {"folders", totals.folders}, {"bytes", totals.bytes}};
  if (scan.unreadable) head["unreadableSectors"] = UnreadableJson(*scan.unreadable);
  std::string text = head.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  text.pop_back();  // the closing brace: the items follow
  text += ",\"items\":[";
  bool first = true;
  items([&](const ItemNode& node, const std::string& path, std::size_t nameStart) {
    text += first ? "\n" : ",\n";
    AppendItemJson(text, node, path, nameStart);
    first = false;
    if (text.size() > (1 << 20)) {
      out << text;
      text.clear();
    }
  });
  out << text << "\n]}\n";
}

}  // namespace

void WriteScanJson(std::ostream& out, const ScanView& scan, const std::string& mode,
                   bool completed) {
  WriteDocument(out, scan, mode, completed, CountItems(scan.root),
                [&](const auto& add) { WalkWithPaths(scan.root, add); });
}

std::string PathOf(const ItemNode& node) {
  // Only a damaged or hostile tree nests deeper than the longest path the
  // system takes; such a path is shown as "..." and the names nearest the
  // item that fit, so that printing every item of a deep tree costs no more
  // than the tree's size times that bound.
  std::vector<const ItemNode*> chain;
  std::size_t units = 0;
  bool cut = false;
  for (const ItemNode* n = &node; n != nullptr && n->parent != nullptr; n = n->parent) {
    units += n->name.size() + 1;
    if (units > PATH_MAX && !chain.empty()) {
      cut = true;
      break;
    }
    chain.push_back(n);
  }
  std::string path = cut ? "..." : "";
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += Utf8FromUtf16((*it)->name);
  }
  return path;
}

void WriteItemsJson(std::ostream& out, const ScanView& scan, const std::string& mode,
                    bool completed, const std::vector<const ItemNode*>& items) {
  Totals totals;
  for (const ItemNode* node : items)
    AddToTotals(totals, *node);
  WriteDocument(out, scan, mode, completed, totals, [&](const auto& add) {
    for (const ItemNode* node : items) {
      const std::string path = PathOf(*node);
      add(*node, path, path.size() - Utf8FromUtf16(node->name).size());
    }
  });
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&](const char* format, unsigned value) {
    char escaped[12];
    std::snprintf(escaped, sizeof escaped, format, value);
    out += escaped;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u < 0x20 || u == 0x7F) {
      escape("\\x%02x", u);
      continue;
    }
    // C1 controls (U+0080-U+009F, C2 80-9F in UTF-8) act like C0 ones on
    // many terminals; bidirectional embeddings, overrides and isolates
    // (U+202A-U+202E, U+2066-U+2069) make a name read as another.
    const auto next = [&](std::size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
    };
    if (u == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
      escape("\\u%04x", next(1));
      ++i;
      continue;
    }
    if (u == 0xE2 && ((next(1) == 0x80 && next(2) >= 0xAA && next(2) <= 0xAE) ||
                      (next(1) == 0x81 && next(2) >= 0xA6 && next(2) <= 0xA9))) {
      escape("\\u%04x", 0x2000 + ((next(1) & 0x3F) << 6) + (next(2) & 0x3F));
      i += 2;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string VolumeCutNote(const ScanView& scan) {
  if (scan.claimedSectors <= scan.sectors) return "";
  return "the boot sector claims " + std::to_string(scan.claimedSectors) +
         " sectors; the source holds " + std::to_string(scan.sectors) + ": the volume is read as " +
         std::to_string(scan.sectors) + " sectors";
}

void PrintTree(const ScanView& scan) {
  const ItemNode* root = scan.root;
  const std::string note = VolumeCutNote(scan);
  std::string text = note.empty() ? "" : "note: " + note + "\n";
  text += ".\n";
  WalkTree(root, [&](const ItemNode& node, int depth) {
    text.append(static_cast<std::size_t>(depth) * 2, ' ');
    text += Printable(Utf8FromUtf16(node.name));
    const char* state = node.isLive() ? "live" : "deleted";
    if (node.isFolder()) {
      text += "/  [";
      text += state;
      text += " folder]\n";
    } else {
      text += "  " + std::to_string(node.size) + " bytes";
      if (node.claimedSize != 0)
        text += " (cut: the disk claims " + std::to_string(node.claimedSize) + ")";
      text += std::string("  [") + state + "]";
      if (const char* verdict = RecoverableName(node.recoverable.state))
        text += std::string("  ") + verdict + " " + std::to_string(node.recoverable.percent) + "%";
      if (node.times.modified.known()) {
        text += "  " + IsoTime(node.times.modified);
      } else if (node.createDate != 0) {
        text += "  " + IsoDateFromFatDate(node.createDate);
      }
      text += '\n';
    }
    if (text.size() > (1 << 20)) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      text.clear();
    }
  });
  text += TotalsLine("Total", CountItems(root)) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace restorix::cli
