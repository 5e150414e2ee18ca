#include "tree_output.h"

#include <cstdio>
#include <vector>

#include "util/fat_date.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

nlohmann::ordered_json DateJson(std::uint16_t fatDate) {
  return fatDate == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(IsoDateFromFatDate(fatDate));
}

}  // namespace

Totals CountItems(const ItemNode* root) {
  Totals totals;
  WalkTree(root, [&](const ItemNode& node, int) {
    if (node.isFolder()) {
      ++totals.folders;
    } else {
      ++totals.files;
      totals.bytes += node.size;
    }
  });
  return totals;
}

std::string TotalsLine(const Totals& totals) {
  constexpr double kKB = 1024.0, kMB = 1048576.0, kGB = 1073741824.0;
  const char* unit = "KB";
  double value = static_cast<double>(totals.bytes) / kKB;
  if (totals.bytes >= 1073741824ull) {
    unit = "GB", value = static_cast<double>(totals.bytes) / kGB;
  } else if (totals.bytes >= 1048576ull) {
    unit = "MB", value = static_cast<double>(totals.bytes) / kMB;
  }
  char text[128];
  std::snprintf(text, sizeof text, "Total %7.3f %s in %u Files in %u Folders", value, unit,
                static_cast<unsigned>(totals.files), static_cast<unsigned>(totals.folders));
  return text;
}

void WalkWithPaths(const ItemNode* root,
                   const std::function<void(const ItemNode&, const std::string&)>& visit) {
  std::vector<std::string> names;
  WalkTree(root, [&](const ItemNode& node, int depth) {
    names.resize(static_cast<std::size_t>(depth - 1));
    names.push_back(Utf8FromUtf16(node.name));
    std::string path;
    for (const std::string& name : names) {
      if (!path.empty()) path += '/';
      path += name;
    }
    visit(node, path);
  });
}

nlohmann::ordered_json ItemJson(const ItemNode& node, const std::string& path) {
  nlohmann::ordered_json item;
  item["path"] = path;
  item["name"] = Utf8FromUtf16(node.name);
  item["folder"] = node.isFolder();
  item["live"] = (node.flags & ITEM_LIVE) != 0;
  item["size"] = node.size;
  item["id"] = node.id;
  item["parentId"] = node.parentId;
  item["origin"] = node.origin;
  item["createDate"] = DateJson(node.createDate);
  item["accessDate"] = DateJson(node.accessDate);
  item["checked"] = node.checked != 0;
  if (node.origin != ORIGIN_FILE_SYSTEM && !node.isFolder()) {
    item["firstSector"] = node.extents.empty() ? std::uint64_t{node.id} : node.extents.front().start;
  }
  return item;
}

void WriteScanJson(std::ostream& out, const Engine& engine, const std::string& mode, bool completed) {
  const Totals totals = CountItems(engine.treeRoot);
  nlohmann::ordered_json head;
  head["source"] = Utf8FromUtf16(engine.sourceName);
  head["fsType"] = engine.context.fsType();
  head["mode"] = mode;
  head["completed"] = completed;
  head["totals"] = {{"files", totals.files}, {"folders", totals.folders}, {"bytes", totals.bytes}};
  std::string text = head.dump();
  text.pop_back();  // the closing brace: the items follow
  out << text << ",\"items\":[";
  bool first = true;
  WalkWithPaths(engine.treeRoot, [&](const ItemNode& node, const std::string& path) {
    out << (first ? "\n" : ",\n") << ItemJson(node, path).dump();
    first = false;
  });
  out << "\n]}\n";
}

void PrintTree(const Engine& engine) {
  std::printf(".\n");
  WalkTree(engine.treeRoot, [&](const ItemNode& node, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    const std::string name = Utf8FromUtf16(node.name);
    const char* state = (node.flags & ITEM_LIVE) ? "live" : "deleted";
    if (node.isFolder()) {
      std::printf("%s%s/  [%s folder]\n", indent.c_str(), name.c_str(), state);
    } else {
      const std::string date = IsoDateFromFatDate(node.createDate);
      std::printf("%s%s  %llu bytes  [%s]%s%s\n", indent.c_str(), name.c_str(),
                  static_cast<unsigned long long>(node.size), state, date.empty() ? "" : "  ",
                  date.c_str());
    }
  });
  std::printf("%s\n", TotalsLine(CountItems(engine.treeRoot)).c_str());
}

}  // namespace restorix::cli
