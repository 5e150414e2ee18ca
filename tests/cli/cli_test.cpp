// The `restorix` program as a user runs it: exit statuses, messages and the
// JSON it prints, on the demo disk; and the printing of names from damaged or
// hostile disks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "support/test_support.h"
#include "support/tsk.h"
#include "tree_output.h"
#include "util/text.h"

namespace restorix {
namespace {

using test::Quote;
using Json = nlohmann::json;

test::CommandResult Restorix(const std::string& arguments, const std::string& limit = "") {
  return test::Run(limit + Quote(test::RestorixBinary().string()) + " " + arguments);
}

const std::string kDemo = Quote(test::Fixture("demo-disk.img").string());
const std::string kWholeDisk = "is a whole disk with a partition table (dos); choose a volume";
constexpr const char* kCorrupt =
    "Failed to open drive.\nCritical disk structures corrupted\nPlease use Advanced File Recovery.";

TEST(CliTest, InfoPrintsTheVolumeGeometryOfEachPartition) {
  const auto ntfs = Restorix("info " + kDemo + " --partition 2 --json");
  ASSERT_EQ(ntfs.exitCode, 0) << ntfs.err;
  const auto json = Json::parse(ntfs.out);
  EXPECT_EQ(std::tie(json["fsType"], json["fileSystem"], json["bytesPerSector"],
                     json["sectorsPerCluster"]),
            std::tuple(3, "NTFS", 512, 8));
  EXPECT_GT(json["mftRecordCount"].get<int>(), 0);
  EXPECT_FALSE(json["mftRuns"].empty());
  EXPECT_EQ(json["contextBytes"].get<std::string>().size(), 142u);
  const auto fat = Restorix("info " + kDemo + " -p 1");
  EXPECT_NE(fat.out.find("FAT32 (fsType 2)"), std::string::npos) << fat.out;
  EXPECT_NE(fat.out.find("fatStart"), std::string::npos);
  const auto partitions = Json::parse(Restorix("partitions " + kDemo + " --json").out);
  EXPECT_EQ(partitions["table"], "dos");
  ASSERT_EQ(partitions["partitions"].size(), 2u);
  EXPECT_EQ(partitions["partitions"][0]["fileSystem"], "FAT32");
  EXPECT_EQ(partitions["partitions"][1]["fileSystem"], "NTFS");
}

// Sources that cannot be opened, outputs that cannot be written and option
// values out of range fail with a reason, before anything is written; every
// command has help with an example, and the lists print as JSON.
TEST(CliTest, FailuresAndUsageErrorsSayWhy) {
  test::TempDir dir;
  test::WriteFile(dir / "empty", {});
  test::WriteFile(dir / "file", {1});
  test::MakeSparseFile(dir / "ext4.img", 8 << 20);
  const bool ext4 =
      test::Run("mkfs.ext4 -q -F " + Quote((dir / "ext4.img").string())).exitCode == 0;
  const std::string to = " --to " + Quote(dir.path().string());
  const std::tuple<std::string, int, std::string> cases[] = {
      {"info " + Quote((dir / "missing").string()), 1, "No such file or directory"},
      {"info " + Quote(dir.path().string()), 1, "Is a directory"},
      {"info " + Quote((dir / "empty").string()), 1, kCorrupt},
      {"info " + kDemo, 1, kWholeDisk},
      {"info " + kDemo, 1, "--partition 2  28.00 MB  NTFS"},
      {"info " + kDemo + " --partition 7", 1, "has no partition 7"},
      {"image " + kDemo + " " + Quote((dir / "x.qni").string()), 1, kWholeDisk},
      {ext4 ? "info " + Quote((dir / "ext4.img").string()) : "info " + kDemo, 1,
       ext4 ? "holds ext4, not a FAT16, FAT32, exFAT or NTFS volume" : kWholeDisk},
      {"image " + kDemo + " -p 1 --force " + Quote(dir.path().string()), 1,
       "Imaging of logical drive aborted.\nrestorix: 'OUT' must be a file"},
      {"scan " + kDemo + " -p 2 --mode format --types xyz", 2, "unknown file type 'xyz'"},
      {"scan " + kDemo + " -p 2 --mode format --file-size 5GB", 2,
       "Please provide value in range of 1KB to 4GB"},
      {"scan " + kDemo + " -p 2 --mode format --file-size 0KB", 2,
       "Please provide value in range of 1KB to 4GB"},
      {"scan " + kDemo + " -p 2 --mode sideways", 2, "sideways"},
      {"scan " + kDemo + " -p 9", 1, "has no partition 9"},
      {"recover " + kDemo + " -p 2 --to " + Quote((dir / "file").string()), 1,
       "Saving of data aborted.\nrestorix: the destination is not a folder"},
      {"recover --scan " + kDemo + to, 1, "Scan Information file is not valid or corrupted."},
      {"recover " + kDemo + " -p 2" + to + " --at-least 1KB --at-most 2KB", 2, "not both"},
      {"find --scan " + kDemo + " '*'", 1, "not valid or corrupted"},
      {"recover --scan s.qns --mode advanced" + to, 2, "--mode excludes --scan"},
      {"recover " + kDemo + " --source x" + to, 2, "--source requires --scan"},
      {"", 2, "A subcommand is required"},
      {"info", 2, ""},
      {"frobnicate", 2, ""},
      {"info x --partition 0", 2, "partitions count from 1"}};
  for (const auto& [arguments, exitCode, message] : cases) {
    const auto result = Restorix(arguments);
    EXPECT_EQ(result.exitCode, exitCode) << arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << arguments << "\n" << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.qni"));
  const auto version = Restorix("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("restorix ", 0), 0u) << version.out;
  const auto help = Restorix("help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Subcommands:"), std::string::npos) << help.out << help.err;
  for (const char* command :
       {"drives", "partitions", "info", "scan", "recover", "find", "image", "types"}) {
    const auto help = Restorix(std::string(command) + " --help");
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_NE(help.out.find("Example:"), std::string::npos) << command;
  }
  EXPECT_TRUE(Json::parse(Restorix("drives --json").out).is_object());
  EXPECT_GT(Json::parse(Restorix("types --json").out)["types"].size(), 30u);
}

// Paths are bytes on Linux, not always UTF-8: the JSON forms still print
// (with a replacement character) instead of failing after the work is done.
TEST(CliTest, JsonOutputSurvivesPathsThatAreNotUtf8) {
  test::TempDir dir;
  const std::string image = Quote((dir / "disk\xff.img").string());
  std::filesystem::copy_file(test::Fixture("demo-disk.img"), dir / "disk\xff.img");
  for (const std::string& arguments :
       {"partitions " + image + " --json", "info " + image + " -p 2 --json",
        "scan " + image + " -p 2 --json",
        "recover " + image + " -p 2 --to " + Quote((dir / "out\xfe").string()) + " --json"}) {
    const auto result = Restorix(arguments);
    EXPECT_EQ(result.exitCode, 0) << arguments << "\n" << result.err;
    EXPECT_TRUE(Json::accept(result.out)) << arguments;
  }
}

// An image opens like the partition it copies; one that a full disk (a
// file-size limit stands in for it) cuts short is reported as aborted.
TEST(CliTest, ImageCopiesAPartitionAndTheImageOpensLikeIt) {
  test::TempDir dir;
  const auto image = dir / "fat.qni";
  const auto result = Restorix("image " + kDemo + " -p 1 " + Quote(image.string()));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Imaging of logical drive completed."), std::string::npos);
  auto original = Json::parse(Restorix("info " + kDemo + " -p 1 --json").out);
  auto copy = Json::parse(Restorix("info " + Quote(image.string()) + " --json").out);
  for (const char* differs : {"source", "partition"})
    original.erase(differs), copy.erase(differs);
  EXPECT_EQ(original, copy);

  // An existing OUT is kept unless --force; a device as OUT is refused even
  // then, before anything is written.
  test::WriteFile(dir / "old.qni", {1, 2, 3});
  const std::string old = Quote((dir / "old.qni").string());
  const auto kept = Restorix("image " + kDemo + " -p 1 " + old);
  EXPECT_EQ(kept.exitCode, 1);
  EXPECT_NE(kept.err.find("exists; give --force to replace it"), std::string::npos) << kept.err;
  EXPECT_EQ(test::ReadFile(dir / "old.qni"), (std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_EQ(Restorix("image " + kDemo + " -p 1 --force " + old).exitCode, 0);
  EXPECT_EQ(std::filesystem::file_size(dir / "old.qni"), std::filesystem::file_size(image));
  const auto refused = Restorix("image " + kDemo + " -p 1 --force /dev/null");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Imaging of logical drive aborted."), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));

  // An aborted image leaves no file behind: the file-size limit makes the
  // write fail partway, as a full disk would.
  std::filesystem::remove(image);
  const auto full =
      Restorix("image " + kDemo + " -p 1 " + Quote(image.string()), "ulimit -f 100; ");
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("Imaging of logical drive aborted."), std::string::npos) << full.err;
  EXPECT_NE(full.err.find("writing the image failed"), std::string::npos) << full.err;
}

// Free space is weighed before imaging starts: a volume whose boot sector
// claims 1.9 TB, in a sparse file of 8 TB, fits on no disk here.
TEST(CliTest, ImageRefusedBeforeItStartsWhenTheSpaceIsShort) {
  test::TempDir dir;
  const auto volume = dir / "large.img";
  ASSERT_EQ(Restorix("image " + kDemo + " -p 1 " + Quote(volume.string())).exitCode, 0);
  {
    std::fstream patch(volume, std::ios::in | std::ios::out | std::ios::binary);
    patch.seekp(32);  // FAT32 total sectors
    patch.write("\xff\xff\xff\xf0", 4);
  }
  std::filesystem::resize_file(volume, std::uint64_t{8} << 40);
  const auto image = dir / "out.qni";
  const auto result = Restorix("image " + Quote(volume.string()) + " " + Quote(image.string()));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Insufficient disk space to create disk image.\nPlease choose "
                            "different location."),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(std::filesystem::exists(image));
}

// The type of each named field by a letter: n(ull), o(bject), a(rray),
// s(tring), b(oolean), i(nteger), u(nsigned), f(loat), x (binary), - missing.
std::string Kinds(const Json& json, std::initializer_list<const char*> keys) {
  std::string kinds;
  for (const char* key : keys)
    kinds += json.contains(key) ? "noasbiufx"[static_cast<int>(json[key].type())] : '-';
  return kinds;
}

// MNT is an ntfs-3g mount of loopA, a loop device over partition 2 of an
// image file; loopB covers the whole file. Every output into MNT from
// partition 2 of loopB, or of the file itself, is refused before anything is
// written, naming both paths; partition 1 does not overlap loopA and may be
// recovered there.
TEST(CliTest, OutputsOntoTheSourceAreRefusedNamingBoth) {
  if (::geteuid() != 0 || !test::HaveTool("losetup") || !test::HaveTool("ntfs-3g")) {
    GTEST_SKIP() << "needs root, losetup and ntfs-3g";
  }
  test::TempDir dir;
  const std::string image = (dir / "disk.img").string(), mnt = (dir / "mnt").string();
  std::filesystem::copy_file(test::Fixture("demo-disk.img"), image);
  std::filesystem::create_directory(mnt);
  const auto second = nlohmann::json::parse(
      Restorix("partitions " + Quote(image) + " --json").out)["partitions"][1];
  const auto attach = [&](const std::string& window) {
    const auto result = test::Run("losetup --find --show " + window + " " + Quote(image));
    return result.exitCode == 0 ? result.out.substr(0, result.out.find('\n')) : std::string();
  };
  const std::string loopA =
      attach("--offset " + std::to_string(second["start"].get<std::uint64_t>() * 512) +
             " --sizelimit " + std::to_string(second["bytes"].get<std::uint64_t>()));
  const std::string loopB = attach("");
  const auto detach = [&] { test::Run("losetup -d " + loopA + " " + loopB); };
  if (loopA.empty() || loopB.empty()) {
    detach();
    GTEST_SKIP() << "no loop devices here";
  }
  // ntfs-3g's output goes to a file: a daemon that kept the pipe would hold
  // the test up.
  if (test::Run("ntfs-3g " + loopA + " " + Quote(mnt) + " >" +
                Quote((dir / "ntfs-3g.log").string()) + " 2>&1")
          .exitCode != 0) {
    detach();
    GTEST_SKIP() << "cannot mount with ntfs-3g here";
  }
  struct Case {
    std::string source;
    std::string command;  // with OUT for the output
    std::string output;
  };
  const Case cases[] = {
      {loopB, "recover SRC -p 2 --to OUT", mnt + "/rescue"},
      {image, "recover SRC -p 2 --to OUT", mnt + "/rescue"},
      {loopB, "recover SRC --offset 83968 --to OUT", mnt + "/rescue"},
      {image, "image SRC --offset 83968 OUT", mnt + "/p2.qni"},
      {loopB, "image SRC -p 2 OUT", mnt + "/p2.qni"},
      {loopB, "scan SRC -p 2 --save-scan OUT", mnt + "/p2.qns"},
      {loopB, "scan SRC -p 2 --log OUT", mnt + "/run.log"},
  };
  for (const Case& c : cases) {
    std::string arguments = c.command;
    arguments.replace(arguments.find("SRC"), 3, Quote(c.source));
    arguments.replace(arguments.find("OUT"), 3, Quote(c.output));
    const auto result = Restorix(arguments);
    EXPECT_EQ(result.exitCode, 1) << arguments;
    EXPECT_NE(result.err.find("'" + c.output + "' lies on the source '" + c.source +
                              "': both are held in " + image),
              std::string::npos)
        << arguments << "\n"
        << result.err;
    EXPECT_FALSE(std::filesystem::exists(c.output)) << arguments;
  }
  const auto beside = Restorix("recover " + loopB + " -p 1 --to " + Quote(mnt + "/rescue"));
  EXPECT_EQ(beside.exitCode, 0) << beside.err;
  const auto besideByOffset =
      Restorix("recover " + Quote(image) + " --offset 2048 --to " + Quote(mnt + "/rescue"));
  EXPECT_EQ(besideByOffset.exitCode, 0) << besideByOffset.err;
  EXPECT_TRUE(std::filesystem::exists(mnt + "/rescue/#"));
  test::Run("umount " + Quote(mnt));
  detach();
}

TEST(CliScanTest, ListsTheDeletedFilesOfBothDemoPartitions) {
  const auto ntfs = Restorix("scan " + kDemo + " -p 2 --json");
  ASSERT_EQ(ntfs.exitCode, 0) << ntfs.err;
  const auto json = Json::parse(ntfs.out);
  EXPECT_EQ(Kinds(json, {"source", "fsType", "mode", "completed", "totals", "items"}), "susboa");
  EXPECT_EQ(Kinds(json["totals"], {"files", "folders", "bytes"}), "uuu");
  EXPECT_EQ(std::tie(json["fsType"], json["mode"], json["completed"]),
            std::tuple(3, "deleted", true));
  std::vector<std::string> paths;
  for (const auto& item : json["items"]) {
    paths.push_back(item["path"]);
    EXPECT_EQ(Kinds(item, {"path", "name", "folder", "live", "size", "id", "parentId", "origin",
                           "checked"}),
              "ssbbuuuub");
    EXPECT_EQ(Kinds(item, {"createDate", "accessDate"}).find_first_not_of("sn"), std::string::npos);
  }
  for (const char* expected :
       {"Photos/2026/holiday-01.jpg", "tiny-note.txt", "Projects/old-site/css/style.css"}) {
    EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << expected;
  }
  const auto fat = Restorix("scan " + kDemo + " -p 1");
  ASSERT_EQ(fat.exitCode, 0) << fat.err;
  EXPECT_NE(fat.out.find("R\xC3\xA9sum\xC3\xA9 draft 2026.txt"), std::string::npos) << fat.out;
  EXPECT_NE(fat.out.find("Total "), std::string::npos);
}

// A disk whose partition table was zeroed: the search lists both volumes,
// and each scans at the start it gives as its partition did.
TEST(CliScanTest, LostVolumesAreFoundAndScannedAtTheirOffsets) {
  test::TempDir dir;
  const auto image = dir / "lost.img";
  std::filesystem::copy_file(test::Fixture("demo-disk.img"), image);
  test::RunOk("dd if=/dev/zero of=" + Quote(image.string()) +
              " bs=512 count=1 conv=notrunc status=none");
  const auto search = Restorix("partitions " + Quote(image.string()) + " --search --json");
  ASSERT_EQ(search.exitCode, 0) << search.err;
  const auto volumes = Json::parse(search.out)["volumes"];
  ASSERT_EQ(volumes.size(), 2u) << search.out;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    const auto& volume = volumes[i];
    EXPECT_EQ(Kinds(volume, {"start", "sectors", "bytes", "fileSystem", "label",
                             "primaryBootSector", "backupBootSector", "partition"}),
              "uuussbbn");
    const std::string offset = std::to_string(volume["start"].get<std::uint64_t>());
    const auto byOffset =
        Restorix("scan " + Quote(image.string()) + " --offset " + offset + " --json");
    const auto byTable = Restorix("scan " + kDemo + " -p " + std::to_string(i + 1) + " --json");
    ASSERT_EQ(byOffset.exitCode, 0) << byOffset.err;
    const auto found = Json::parse(byOffset.out), expected = Json::parse(byTable.out);
    EXPECT_EQ(found["items"], expected["items"]) << offset;
    EXPECT_FALSE(found["items"].empty());
  }
  const auto text = Restorix("partitions " + Quote(image.string()) + " --search");
  EXPECT_NE(text.out.find("DEMONTFS         both            none (lost)"), std::string::npos)
      << text.out;

  // A saved scan of such a volume is recovered from where it starts.
  const std::string saved = Quote((dir / "lost.qns").string());
  ASSERT_EQ(
      Restorix("scan " + Quote(image.string()) + " --offset 83968 --save-scan " + saved).exitCode,
      0);
  const auto lostStart =
      Restorix("recover --scan " + saved + " --to " + Quote((dir / "a").string()));
  EXPECT_EQ(lostStart.exitCode, 1);
  EXPECT_NE(lostStart.err.find("--offset SECTOR"), std::string::npos) << lostStart.err;
  const auto recovered = Restorix("recover --scan " + saved + " --offset 83968 --to " +
                                  Quote((dir / "b").string()) + " --select tiny-note.txt");
  EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "b" / "#" / "tiny-note.txt"));
  EXPECT_EQ(
      Restorix("recover --scan " + saved + " --offset 2048 --to " + Quote((dir / "c").string()))
          .exitCode,
      1)
      << "another volume";

  const auto nothing = Restorix("info " + Quote(image.string()) + " --offset 2049");
  EXPECT_EQ(nothing.exitCode, 1);
  EXPECT_NE(nothing.err.find("no FAT16, FAT32 or NTFS volume starts at sector 2049"),
            std::string::npos)
      << nothing.err;
  EXPECT_EQ(Restorix("info " + kDemo + " --offset 2048 --partition 1").exitCode, 2);
}

// The bytes recovered from the demo disk are the files' own, as its manifest
// records them; a saved scan recovers the same. A save cut short by a full
// disk is reported as aborted.
TEST(CliScanTest, RecoverWritesTheDemoFilesAndASavedScanRecoversTheSame) {
  test::TempDir dir;
  const std::string to = " --to " + Quote(dir.path().string());
  const auto direct = Restorix("recover " + kDemo + " -p 2" + to + " --json");
  ASSERT_EQ(direct.exitCode, 0) << direct.err;
  const auto report = Json::parse(direct.out);
  EXPECT_EQ(report["completed"], true);
  EXPECT_EQ(report["runFolder"], (dir / "#").string());
  EXPECT_GT(report["files"].get<int>(), 10);
  std::ifstream manifest(test::SourceFixture("demo-disk.manifest.tsv"));
  int checked = 0;
  for (std::string partition, path, state, size, sha;
       std::getline(manifest, partition, '\t') && std::getline(manifest, path, '\t') &&
       std::getline(manifest, state, '\t') && std::getline(manifest, size, '\t') &&
       std::getline(manifest, sha);) {
    if (partition != "2" || state != "deleted") continue;
    EXPECT_EQ(test::Sha256OfFile(dir / "#" / path.substr(1)), sha) << path;
    ++checked;
  }
  EXPECT_GT(checked, 5);

  const auto scan = Restorix("scan " + kDemo + " -p 2 --save-scan " + Quote((dir / "s").string()));
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const auto again = Restorix("recover --scan " + Quote((dir / "s.qns").string()) + to + " --json");
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(Json::parse(again.out)["runFolder"], (dir / "#0").string());
  EXPECT_EQ(test::Run("diff -r " + Quote((dir / "#").string()) + " " + Quote((dir / "#0").string()))
                .exitCode,
            0);

  const auto full = Restorix("recover " + kDemo + " -p 2" + to, "ulimit -f 40; ");
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("writing to the destination failed"), std::string::npos) << full.err;
  EXPECT_EQ(full.out.find("Saving of data completed."), std::string::npos);
  const auto cut = Restorix("recover " + kDemo + " -p 2 --json" + to, "ulimit -f 40; ");
  EXPECT_EQ(cut.exitCode, 1);
  const auto failed = Json::parse(cut.out);
  EXPECT_EQ(failed["completed"], false);
  EXPECT_NE(failed["error"].get<std::string>().find("File too large ("), std::string::npos)
      << "the reason, with the item that could not be written";
}

// The verdict of each deleted file of the exFAT card in --json, and
// --intact-only writing only the intact ones.
TEST(CliScanTest, IntactOnlyWritesTheIntactFilesAndJsonNamesEachVerdict) {
  test::TempDir dir;
  const std::string card = Quote(test::Fixture("exfat-card.img").string());
  const auto scan = Restorix("scan " + card + " --json");
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::map<std::string, int> states;
  std::string photoModified;
  const auto document = Json::parse(scan.out);
  for (const auto& item : document["items"]) {
    if (item["folder"].get<bool>()) continue;
    if (item["name"] == "IMG_0002.JPG") photoModified = item["modified"].get<std::string>();
    ++states[item["recoverable"].get<std::string>() + " " +
             std::to_string(item["recoverablePercent"].get<int>())];
  }
  EXPECT_EQ(states,
            (std::map<std::string, int>{
                {"intact 100", 14}, {"partial 50", 1}, {"partial 60", 1}, {"overwritten 0", 1}}));
  const auto recover =
      Restorix("recover " + card + " --intact-only --json --to " + Quote(dir.path().string()));
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  EXPECT_EQ(Json::parse(recover.out)["files"], 14);
  EXPECT_FALSE(std::filesystem::exists(dir / "#" / "reused whole.dat"));
  // The recovered file carries the modification time the listing shows.
  struct stat written {};
  ASSERT_EQ(::stat((dir / "#" / "DCIM" / "100CANON" / "IMG_0002.JPG").c_str(), &written), 0);
  char iso[32];
  std::tm utc{};
  std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&written.st_mtime, &utc));
  EXPECT_EQ(iso, photoModified);
}

// A command that fails exits 1 and says why, and with --json it prints a
// document with the reason under "error" rather than nothing.
TEST(CliScanTest, FailuresExitOneAndPrintAJsonErrorToo) {
  test::TempDir dir;
  const std::string to = " --to " + Quote(dir.path().string());
  const std::string saved = Quote((dir / "s.qns").string());
  ASSERT_EQ(Restorix("scan " + kDemo + " -p 2 --save-scan " + saved).exitCode, 0);
  const std::string missing = Quote((dir / "missing.qns").string());
  struct Case {
    std::string arguments;
    std::string message;  // on stderr, and in the JSON error
  };
  const Case cases[] = {
      {"recover " + kDemo + " -p 2" + to + " --select '*.nomatch'", "nothing to recover"},
      {"recover --scan " + saved + to + " --select '*.nomatch'", "nothing to recover"},
      {"recover --scan " + missing + to, "No such file or directory"},
      {"find --scan " + missing + " '*'", "No such file or directory"},
      {"scan " + Quote((dir / "missing.img").string()), "No such file or directory"},
      {"info " + kDemo, kWholeDisk},
  };
  for (const Case& c : cases) {
    const auto text = Restorix(c.arguments);
    EXPECT_EQ(text.exitCode, 1) << c.arguments;
    EXPECT_NE(text.err.find(c.message), std::string::npos) << c.arguments << "\n" << text.err;
    EXPECT_EQ((text.out + text.err).find("completed."), std::string::npos) << c.arguments;
    const auto json = Restorix(c.arguments + " --json");
    EXPECT_EQ(json.exitCode, 1) << c.arguments;
    ASSERT_TRUE(nlohmann::json::accept(json.out)) << c.arguments << "\n" << json.out;
    const auto document = nlohmann::json::parse(json.out);
    EXPECT_NE(document.value("error", "").find(c.message), std::string::npos) << c.arguments << "\n"
                                                                              << json.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "#")) << "nothing to recover, nothing made";

  // find, as grep: 1 when nothing matches, with the document still printed.
  const auto none = Restorix("find --scan " + saved + " '*.nomatch'");
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.out.find("Search item not found"), std::string::npos);
  const auto noneJson = Restorix("find --scan " + saved + " '*.nomatch' --json");
  EXPECT_EQ(noneJson.exitCode, 1);
  EXPECT_EQ(nlohmann::json::parse(noneJson.out)["items"].size(), 0u);
  EXPECT_EQ(Restorix("find --scan " + saved + " '*.jpg'").exitCode, 0);
}

// The log file of a run has a row for each step; a search and a selection
// pick from a saved scan; Ctrl-C ends a search as aborted.
TEST(CliSessionTest, LogFindSelectAndStopping) {
  test::TempDir dir;
  const auto scan = Restorix("scan " + kDemo + " -p 2 --save-scan " + Quote((dir / "s").string()) +
                             " --log " + Quote((dir / "run.log").string()));
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const auto bytes = test::ReadFile(dir / "run.log");
  const std::string text(bytes.begin(), bytes.end());
  const std::string drive = test::Fixture("demo-disk.img").string() + " (partition 2)";
  for (const std::string& row :
       {"\nSelected " + drive + "\n\t\tProcessing Mode: Deleted File Recovery\n\t\t",
        "\nProcessing directory structure for " + drive + "\n",
        "\nCompleted Processing directory structure for " + drive + "\n"}) {
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  }

  const std::string saved = Quote((dir / "s.qns").string());
  const auto find = Restorix("find --scan " + saved + " 'HOLIDAY-0?.JPG' --at-least 10KB --json");
  ASSERT_EQ(find.exitCode, 0) << find.err;
  std::vector<std::string> paths;
  const Json found = Json::parse(find.out);
  for (const auto& item : found["items"])
    paths.push_back(item["path"]);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"Photos/2026/holiday-03.jpg", "Photos/2026/holiday-01.jpg"}));
  EXPECT_EQ(
      Json::parse(Restorix("find --scan " + saved + " 'HOLIDAY*' --match-case --json").out)["items"]
          .size(),
      0u);
  const auto picked = Restorix("recover --scan " + saved + " --to " + Quote(dir.path().string()) +
                               " --select 'Photos/*/' --select tiny-note.txt --json");
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  EXPECT_EQ(Json::parse(picked.out)["files"], 4);
  EXPECT_TRUE(std::filesystem::exists(dir / "#/Photos/2026/holiday-02.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dir / "#/tiny-note.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "#/Projects"));

  // --foreground sends one SIGINT, as a terminal does; without it timeout
  // signals its process group too, which can land as a second Ctrl-C.
  test::MakeSparseFile(dir / "big.img", 64ull << 30);
  const auto stopped =
      Restorix("scan " + Quote((dir / "big.img").string()) + " --mode advanced --json",
               "timeout --foreground --preserve-status -s INT 1 ");
  EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
  EXPECT_EQ(Json::parse(stopped.out)["completed"], false);
}

// The JSON document is written by hand for speed; names come from damaged or
// hostile disks, so every name must still come back exactly from a parser.
TEST(TreeOutputTest, AnyNameSurvivesTheJsonDocument) {
  const std::u16string names[] = {u"quote\"back\\slash", u"tab\tline\nbell\x07\x1f end",
                                  u"R\u00e9sum\u00e9 \u65e5\u672c.txt", u"", u"\x7f\u2028"};
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  ItemNode* folder = tree.FolderIn(root, u"folder \"one\"");
  ItemNode* previous = nullptr;
  for (const std::u16string& name : names) {
    ItemNode* file = tree.NewNode();
    file->name = name;
    file->size = 1;
    tree.AddChildAfter(folder, previous, file);
    previous = file;
  }

  std::ostringstream out;
  const std::u16string source = u"disk";
  cli::WriteScanJson(out, {source, FsType::Ntfs, root}, "deleted", true);
  const auto json = nlohmann::json::parse(out.str());
  ASSERT_EQ(json["items"].size(), 1 + std::size(names));
  EXPECT_EQ(json["items"][0]["name"], "folder \"one\"");
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const auto& item = json["items"][i + 1];
    EXPECT_EQ(item["name"], Utf8FromUtf16(names[i])) << i;
    EXPECT_EQ(item["path"], "folder \"one\"/" + Utf8FromUtf16(names[i])) << i;
  }
}

// Where a size was cut, the listing says so: the item's claim beside its
// size, and the volume's claimed sectors beside those its source holds.
TEST(TreeOutputTest, CutSizesAreShownWithTheirClaims) {
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  for (const auto& [name, size, claimed] :
       {std::tuple{u"cut.bin", 8192ull, 1ull << 48}, std::tuple{u"whole.bin", 100ull, 0ull}}) {
    ItemNode* file = tree.NewNode();
    file->name = name;
    file->size = size;
    file->claimedSize = claimed;
    tree.AddChild(root, file);
  }
  const std::u16string source = u"disk";
  const cli::ScanView cut{source, FsType::Ntfs, root, 16384, 1ull << 63};
  std::ostringstream out;
  cli::WriteScanJson(out, cut, "deleted", true);
  const auto json = Json::parse(out.str());
  EXPECT_EQ(json["volumeCut"]["claimedSectors"], 1ull << 63);
  EXPECT_EQ(json["volumeCut"]["sectors"], 16384);
  EXPECT_EQ(json["items"][0]["name"], "whole.bin");
  EXPECT_FALSE(json["items"][0].contains("claimedSize"));
  EXPECT_EQ(json["items"][1]["size"], 8192);
  EXPECT_EQ(json["items"][1]["claimedSize"], 1ull << 48);

  testing::internal::CaptureStdout();
  cli::PrintTree(cut);
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("note: the boot sector claims 9223372036854775808 sectors; the source holds "
                      "16384"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("cut.bin  8192 bytes (cut: the disk claims 281474976710656)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("whole.bin  100 bytes  ["), std::string::npos) << text;

  std::ostringstream whole;
  cli::WriteScanJson(whole, {source, FsType::Ntfs, root, 16384, 16384}, "deleted", true);
  EXPECT_FALSE(Json::parse(whole.str()).contains("volumeCut"));
}

TEST(TreeOutputTest, NamesReachTheTerminalWithoutControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain R\u00e9sum\u00e9.txt", "plain R\u00e9sum\u00e9.txt"},
      {"\x1b[2Jwiped", "\\x1b[2Jwiped"},
      {"two\nlines\r\t", "two\\x0alines\\x0d\\x09"},
      {"del\x7f", "del\\x7f"},
      {"csi\xC2\x9B"
       "2J",
       "csi\\u009b2J"},
      {"invoice\xE2\x80\xAE"
       "fdp.exe",
       "invoice\\u202efdp.exe"},
      {"iso\xE2\x81\xA6late\xE2\x81\xA9", "iso\\u2066late\\u2069"},
      {"\xC2\xA0no-break \xE2\x80\x94 dash", "\xC2\xA0no-break \xE2\x80\x94 dash"}};
  for (const auto& [name, shown] : cases)
    EXPECT_EQ(cli::Printable(name), shown);
}

// A whole disk scanned without --mode is searched as a disk: the user is
// told so, and which volumes --partition would open instead.
TEST(CliScanTest, AWholeDiskDeviceSaysWhatRunsAndWhatElseThereIs) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  const auto attach = test::Run("losetup --find --show --read-only --partscan " + kDemo);
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here: " << attach.err;
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  const auto scan = Restorix("scan " + device + " --types png --json");
  test::Run("losetup -d " + device);
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(Json::parse(scan.out)["mode"], "advanced");
  EXPECT_NE(scan.err.find("is a whole disk: Advanced File Recovery"), std::string::npos)
      << scan.err;
  EXPECT_NE(scan.err.find("--partition 1  40.00 MB  FAT32"), std::string::npos) << scan.err;
}

// Numbers are numbers and sizes are bytes, whatever this machine holds.
TEST(CliTest, DrivesJsonHasNumbersAsNumbers) {
  const auto drives = Restorix("drives --json");
  ASSERT_TRUE(Json::accept(drives.out)) << drives.err;
  const auto json = Json::parse(drives.out);
  for (const auto& disk : json["physicalDisks"]) {
    EXPECT_TRUE(disk["bytes"].is_number_unsigned());
    EXPECT_EQ(
        disk["totalSectors"].get<std::uint64_t>() * disk["bytesPerSector"].get<std::uint64_t>(),
        disk["bytes"].get<std::uint64_t>())
        << "the device's own sector count, not a cylinder product";
  }
  for (const auto& volume : json["logicalDisks"]) {
    EXPECT_TRUE(volume["bytes"].is_number_unsigned());
    EXPECT_TRUE(volume["freeBytes"].is_null() || volume["freeBytes"].is_number_unsigned());
  }
}

}  // namespace
}  // namespace restorix
