// The carving corpora (tests/fixtures/carving, committed, and the modern one
// that tests/fixtures/modern/make-modern.sh builds) laid into disk images,
// and what the search made of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "fs/scan.h"
#include "signature/signature_record.h"

namespace restorix::test {

struct CorpusFile {
  std::string name, kind;
  std::vector<std::uint8_t> bytes;
};

// The files a manifest.tsv lists (name, size, sha256, kind), read from its
// folder; empty when there is no manifest.
std::vector<CorpusFile> ReadCorpus(const std::filesystem::path& folder);

// The type table of data/signatures.tsv.
std::vector<SignatureRecord> TypeTable();

// A disk image: random and zero filler, each corpus file at a sector
// boundary (the rest of its last sector filler too), followed by 1 to
// `maxGap` sectors of filler, or none when `maxGap` is 0.
struct Layout {
  std::vector<std::uint8_t> image;
  std::vector<std::pair<const CorpusFile*, std::uint64_t>> placed;  // file, sector
};
Layout LayOut(const std::vector<CorpusFile>& files, std::uint32_t sectorBytes,
              std::uint32_t maxGap = 24);

struct Carved {
  const ItemNode* item;
  std::string category, extension;
  std::uint64_t sector;
};

// Every carved file under "Raw Data", by start sector.
std::multimap<std::uint64_t, Carved> CarvedItems(const ItemTree& tree);

// Nothing is carved from the filler: every item starts where a planted file
// starts, or inside one (a file within a file, which is printed).
void CheckNothingFromFiller(const ItemTree& tree, const Layout& layout, std::uint32_t sectorBytes,
                            const std::string& label);

// Ticks every item of the tree, for a recovery of all of them.
void CheckAll(ItemNode* root);

// What the search must make of one corpus file: the extension it is filed
// under and its size; nullopt when no type confirms it (a rule of the
// search, given in `why`).
struct Expected {
  std::optional<std::string> extension;
  std::uint64_t size = 0;
  std::string why;
  bool guessed = false;  // a length the file does not give: cut at the next file found
};

// Runs the search over the volume with every type selected, recovers what it
// finds and checks each planted file: one item at its sector, as `expect`
// says, and its bytes. Returns the number of files checked; the tree is
// left in `tree`.
int CheckCarving(const Volume& volume,
                 const std::vector<std::pair<const CorpusFile*, std::uint64_t>>& placed,
                 ScanMode mode, const std::string& label, ItemTree& tree,
                 const std::function<Expected(const CorpusFile&)>& expect);

}  // namespace restorix::test
