// Helpers shared by the tests: scratch folders, running tools, fixtures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "fs/scan.h"
#include "task.h"

namespace restorix::test {

// The parts one after the other.
std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts);

// Sectors [first, first + sectors) of a disk whose bytes repeat only every
// 130,304 bytes, a length no sector or block size divides.
std::vector<std::uint8_t> Pattern(std::size_t sectors, std::size_t first = 0,
                                  std::size_t sectorSize = 512);

// A compact picture of a small tree: "name(child child)" for folders, the
// name alone for files, a live item's name followed by '+'.
std::string Render(const ItemNode* node);

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a shell command line and collects its output.
CommandResult Run(const std::string& commandLine);
// Runs a command that must succeed; fails the test otherwise.
std::string RunOk(const std::string& commandLine);
// Quotes a word for the shell.
std::string Quote(const std::string& word);
// True when a program is on the PATH.
bool HaveTool(const std::string& name);

// An unpacked committed fixture (tests/fixtures/NAME.gz).
std::filesystem::path Fixture(const std::string& name);
// A file committed as it is in tests/fixtures (a recipe, a manifest).
std::filesystem::path SourceFixture(const std::string& name);
// The `restorix` program of this build.
std::filesystem::path RestorixBinary();

// Writes a sparse file of the given size.
void MakeSparseFile(const std::filesystem::path& path, std::uint64_t bytes);
// A sparse file of the given size that `command FILE` (mkfs.fat, sfdisk...)
// then formats; its output is dropped.
void MakeVolume(const std::filesystem::path& path, std::uint64_t bytes, const std::string& command);
// Reads a whole file.
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// `fsstat` output as "Key: value" pairs (the first occurrence of each key).
std::map<std::string, std::string> Fsstat(const std::filesystem::path& image,
                                          std::uint64_t sectorOffset = 0);

// A scan run to its end as the scan task runs it.
struct ScanRun {
  ItemTree tree;
  bool completed = false;  // neither stopped nor cut short by a lost device
  bool deviceLost = false;
};
ScanRun ScanVolume(const Volume& volume, ScanMode mode = ScanMode::DeletedFiles,
                   const std::vector<SignatureRecord>& types = {}, std::uint32_t assumedSize = 1024,
                   const StopToken* stop = nullptr, TaskEvents* events = nullptr);

// An item's bytes, read through an ItemReader.
std::vector<std::uint8_t> ReadItem(const Volume& volume, const ItemNode& item);

}  // namespace restorix::test
