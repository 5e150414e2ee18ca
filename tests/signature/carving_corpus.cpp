#include "signature/carving_corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "catalogue/recovery_writer.h"
#include "fs/item_reader.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix::test {

std::vector<CorpusFile> ReadCorpus(const std::filesystem::path& folder) {
  std::vector<CorpusFile> files;
  std::ifstream manifest(folder / "manifest.tsv");
  std::string line;
  std::getline(manifest, line);
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    CorpusFile f;
    std::string size, sha;
    std::getline(fields, f.name, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, f.kind, '\t');
    f.bytes = ReadFile(folder / f.name);
    EXPECT_EQ(f.bytes.size(), std::stoull(size)) << f.name;
    files.push_back(std::move(f));
  }
  return files;
}

std::vector<SignatureRecord> TypeTable() {
  std::ifstream tsv(SourceFixture("../../data/signatures.tsv"));
  return ParseSignatureTable(tsv);
}

Layout LayOut(const std::vector<CorpusFile>& files, std::uint32_t sectorBytes,
              std::uint32_t maxGap) {
  std::mt19937 random(20261206);
  Layout layout;
  std::uint64_t sector = 8;
  std::vector<std::uint64_t> starts;
  for (const auto& f : files) {
    starts.push_back(sector);
    sector += (f.bytes.size() + sectorBytes - 1) / sectorBytes;
    if (maxGap != 0) sector += 1 + random() % maxGap;
  }
  // Room after the last file for the search to read on.
  layout.image.resize((sector + 64) * sectorBytes);
  for (std::size_t at = 0; at < layout.image.size(); at += 64 * 1024) {
    const bool zeros = (at / (64 * 1024)) % 3 == 1;
    for (std::size_t i = at; i < std::min(layout.image.size(), at + 64 * 1024); ++i) {
      layout.image[i] = zeros ? 0 : static_cast<std::uint8_t>(random());
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::copy(files[i].bytes.begin(), files[i].bytes.end(),
              layout.image.begin() + static_cast<std::ptrdiff_t>(starts[i] * sectorBytes));
    layout.placed.push_back({&files[i], starts[i]});
  }
  return layout;
}

std::multimap<std::uint64_t, Carved> CarvedItems(const ItemTree& tree) {
  std::multimap<std::uint64_t, Carved> carved;
  const ItemNode* raw = nullptr;
  for (const ItemNode* c = tree.root()->firstChild; c; c = c->next) {
    if (c->name == kRawDataFolder) raw = c;
  }
  if (!raw) return carved;
  for (const ItemNode* category = raw->firstChild; category; category = category->next) {
    for (const ItemNode* kind = category->firstChild; kind; kind = kind->next) {
      for (const ItemNode* item = kind->firstChild; item; item = item->next) {
        const std::uint64_t start = std::get<restorix::Carved>(item->location).firstSector;
        carved.insert(
            {start, {item, Utf8FromUtf16(category->name), Utf8FromUtf16(kind->name), start}});
      }
    }
  }
  return carved;
}

void CheckNothingFromFiller(const ItemTree& tree, const Layout& layout, std::uint32_t sectorBytes,
                            const std::string& label) {
  int nested = 0;
  for (const auto& [start, c] : CarvedItems(tree)) {
    const auto owner = std::find_if(layout.placed.begin(), layout.placed.end(), [&](const auto& p) {
      const std::uint64_t sectors = (p.first->bytes.size() + sectorBytes - 1) / sectorBytes;
      return start >= p.second && start < p.second + sectors;
    });
    EXPECT_NE(owner, layout.placed.end())
        << label << ": " << c.extension << " carved from filler at " << start;
    if (owner != layout.placed.end() && owner->second != start) {
      ++nested;
      std::printf("[ carving ] %s: a %s inside %s\n", label.c_str(), c.extension.c_str(),
                  owner->first->name.c_str());
    }
  }
  std::printf("[ carving ] %s: %zu files planted, %d carved inside other files\n", label.c_str(),
              layout.placed.size(), nested);
}

void CheckAll(ItemNode* root) {
  root->checked = 1;
  WalkTree(root, [](const ItemNode& n, int) { const_cast<ItemNode&>(n).checked = 1; });
}

int CheckCarving(const Volume& volume,
                 const std::vector<std::pair<const CorpusFile*, std::uint64_t>>& placed,
                 ScanMode mode, const std::string& label, ItemTree& tree,
                 const std::function<Expected(const CorpusFile&)>& expect) {
  ScanRun scan = ScanVolume(volume, mode, TypeTable(), 1024);
  EXPECT_TRUE(scan.completed) << label;
  tree = std::move(scan.tree);
  const auto carved = CarvedItems(tree);
  const std::uint32_t sectorBytes = volume.context().bytesPerSector();
  const std::uint64_t total = volume.context().totalSectors();

  TempDir out;
  CheckAll(tree.root());
  SaveResult saved;
  TaskEvents events;
  SaveCheckedItems(volume, tree, {out.path(), nullptr}, {StopToken{}, events}, saved);
  EXPECT_TRUE(saved.completed()) << label;

  // The files a Format Recovery lists by name, by their first sectors.
  std::map<std::uint64_t, const ItemNode*> named;
  WalkTree(tree.root(), [&](const ItemNode& n, int) {
    if (n.isFolder() || n.isCarved()) return;
    const ItemReader reader(volume, n);
    if (!reader.map().segments.empty()) named.emplace(reader.map().segments.front().sector, &n);
  });

  int checked = 0;
  for (const auto& [file, sector] : placed) {
    const Expected want = expect(*file);
    const auto [from, to] = carved.equal_range(sector);
    std::vector<const Carved*> here;
    for (auto it = from; it != to; ++it)
      here.push_back(&it->second);
    // Found both ways: listed once, by name.
    if (const auto byName = named.find(sector); byName != named.end()) {
      EXPECT_TRUE(here.empty()) << label << " " << file->name << " carved as well";
      EXPECT_EQ(ReadItem(volume, *byName->second), file->bytes) << label << " " << file->name;
      ++checked;
      continue;
    }
    if (!want.extension) {
      EXPECT_TRUE(here.empty()) << label << " " << file->name << ": " << want.why;
      continue;
    }
    EXPECT_EQ(here.size(), 1u) << label << " " << file->name << " at sector " << sector;
    if (here.size() != 1) continue;
    const Carved& c = *here[0];
    EXPECT_EQ(c.extension, *want.extension) << label << " " << file->name;
    std::uint64_t size = std::min(want.size, (total - sector) * sectorBytes);
    for (const auto& [other, start] : placed)
      if (want.guessed && start > sector) size = std::min(size, (start - sector) * sectorBytes);
    EXPECT_EQ(c.item->size, size) << label << " " << file->name << " (" << want.why << ")";
    const auto path = out / ("#/Raw Data/" + c.category + "/" + c.extension + "/" +
                             std::to_string(sector) + "." + c.extension);
    const std::vector<std::uint8_t> recovered = ReadFile(path);
    EXPECT_EQ(recovered.size(), size) << label << " " << file->name;
    const std::size_t common = std::min(recovered.size(), file->bytes.size());
    EXPECT_TRUE(std::equal(file->bytes.begin(),
                           file->bytes.begin() + static_cast<std::ptrdiff_t>(common),
                           recovered.begin()))
        << label << " " << file->name << ": recovered bytes differ";
    ++checked;
  }
  return checked;
}

}  // namespace restorix::test
