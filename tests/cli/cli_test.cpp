// The `restorix` program as a user runs it: exit statuses, messages and the
// JSON it prints, on the demo disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"
#include "support/tsk.h"

namespace restorix {
namespace {

using test::Quote;

test::CommandResult Restorix(const std::string& arguments) {
  return test::Run(Quote(test::RestorixBinary().string()) + " " + arguments);
}

std::string Demo() {
  return Quote(test::Fixture("demo-disk.img").string());
}

constexpr const char* kCorrupt =
    "Failed to open drive.\nCritical disk structures corrupted\nPlease use Advanced File Recovery.";

TEST(CliTest, InfoPrintsTheVolumeGeometryOfEachPartition) {
  const auto ntfs = Restorix("info " + Demo() + " --partition 2 --json");
  ASSERT_EQ(ntfs.exitCode, 0) << ntfs.err;
  const auto json = nlohmann::json::parse(ntfs.out);
  EXPECT_EQ(json["fsType"], 3);
  EXPECT_EQ(json["fileSystem"], "NTFS");
  EXPECT_EQ(json["bytesPerSector"], 512);
  EXPECT_EQ(json["sectorsPerCluster"], 8);
  EXPECT_GT(json["mftRecordCount"].get<int>(), 0);
  EXPECT_FALSE(json["mftRuns"].empty());
  EXPECT_EQ(json["contextBytes"].get<std::string>().size(), 142u);

  const auto fat = Restorix("info " + Demo() + " -p 1");
  ASSERT_EQ(fat.exitCode, 0) << fat.err;
  EXPECT_NE(fat.out.find("FAT32 (fsType 2)"), std::string::npos) << fat.out;
  EXPECT_NE(fat.out.find("fatStart"), std::string::npos);

  const auto partitions = nlohmann::json::parse(Restorix("partitions " + Demo() + " --json").out);
  EXPECT_EQ(partitions["table"], "dos");
  ASSERT_EQ(partitions["partitions"].size(), 2u);
  EXPECT_EQ(partitions["partitions"][0]["fileSystem"], "FAT32");
  EXPECT_EQ(partitions["partitions"][1]["fileSystem"], "NTFS");
}

TEST(CliTest, SourcesThatCannotBeOpenedFailWithAReason) {
  test::TempDir dir;
  test::WriteFile(dir / "empty", {});
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"info " + Quote((dir / "missing").string()), "No such file or directory"},
      {"info " + Quote(dir.path().string()), "Is a directory"},
      {"info " + Quote((dir / "empty").string()), kCorrupt},
      {"info " + Demo(), "holds a partition table: choose a volume with --partition N"},
      {"info " + Demo() + " --partition 7", "has no partition 7"},
      {"image " + Demo() + " " + Quote((dir / "x.qni").string()), kCorrupt},
  };
  for (const Case& c : cases) {
    const auto result = Restorix(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.qni"));
}

// Paths are bytes on Linux, not always UTF-8: the JSON forms still print
// (with a replacement character) instead of failing after the work is done.
TEST(CliTest, JsonOutputSurvivesPathsThatAreNotUtf8) {
  test::TempDir dir;
  const std::string image = (dir / "disk\xff.img").string();
  std::filesystem::copy_file(test::Fixture("demo-disk.img"), image);
  const std::string to = Quote((dir / "out\xfe").string());
  for (const std::string& arguments :
       {"partitions " + Quote(image) + " --json", "info " + Quote(image) + " -p 2 --json",
        "scan " + Quote(image) + " -p 2 --json",
        "recover " + Quote(image) + " -p 2 --to " + to + " --json"}) {
    const auto result = Restorix(arguments);
    EXPECT_EQ(result.exitCode, 0) << arguments << "\n" << result.err;
    EXPECT_TRUE(nlohmann::json::accept(result.out)) << arguments;
  }
}

TEST(CliTest, ImageCopiesAPartitionAndTheImageOpensLikeIt) {
  test::TempDir dir;
  const auto image = dir / "fat.qni";
  const auto result = Restorix("image " + Demo() + " -p 1 " + Quote(image.string()));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Imaging of logical drive completed."), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(image) % (63 * 512), 0u);

  const auto original = Restorix("info " + Demo() + " -p 1 --json");
  const auto copy = Restorix("info " + Quote(image.string()) + " --json");
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  auto a = nlohmann::json::parse(original.out);
  auto b = nlohmann::json::parse(copy.out);
  for (const char* differs : {"source", "partition"})
    a.erase(differs), b.erase(differs);
  EXPECT_EQ(a, b);

  // An existing OUT is kept unless --force; a device as OUT is refused even
  // then, before anything is written.
  test::WriteFile(dir / "old.qni", {1, 2, 3});
  const std::string old = Quote((dir / "old.qni").string());
  const auto kept = Restorix("image " + Demo() + " -p 1 " + old);
  EXPECT_EQ(kept.exitCode, 1);
  EXPECT_NE(kept.err.find("exists; give --force to replace it"), std::string::npos) << kept.err;
  EXPECT_EQ(test::ReadFile(dir / "old.qni"), (std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_EQ(Restorix("image " + Demo() + " -p 1 --force " + old).exitCode, 0);
  EXPECT_EQ(std::filesystem::file_size(dir / "old.qni"), std::filesystem::file_size(image));
  const auto refused = Restorix("image " + Demo() + " -p 1 --force /dev/null");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Imaging of logical drive aborted."), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));

  // An aborted image leaves no file behind: the file-size limit makes the
  // write fail partway, as a full disk would.
  std::filesystem::remove(image);
  const auto full = test::Run("ulimit -f 100; " + Quote(test::RestorixBinary().string()) +
                              " image " + Demo() + " -p 1 " + Quote(image.string()));
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("Imaging of logical drive aborted."), std::string::npos) << full.err;
  EXPECT_NE(full.err.find("writing the image failed"), std::string::npos) << full.err;
  EXPECT_FALSE(std::filesystem::exists(image));
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
  EXPECT_TRUE(std::filesystem::exists(mnt + "/rescue/#"));
  test::Run("umount " + Quote(mnt));
  detach();
}

// The scan document and its items: every field, of the right kind.
void ExpectScanSchema(const nlohmann::json& json) {
  for (const char* key : {"source", "fsType", "mode", "completed", "totals", "items"}) {
    EXPECT_TRUE(json.contains(key)) << key;
  }
  EXPECT_TRUE(json["completed"].is_boolean());
  for (const char* key : {"files", "folders", "bytes"})
    EXPECT_TRUE(json["totals"][key].is_number_unsigned()) << key;
  for (const auto& item : json["items"]) {
    EXPECT_TRUE(item["path"].is_string());
    EXPECT_TRUE(item["name"].is_string());
    EXPECT_TRUE(item["folder"].is_boolean());
    EXPECT_TRUE(item["live"].is_boolean());
    EXPECT_TRUE(item["size"].is_number_unsigned());
    EXPECT_TRUE(item["id"].is_number_unsigned());
    EXPECT_TRUE(item["parentId"].is_number_unsigned());
    EXPECT_TRUE(item["origin"].is_number_unsigned());
    EXPECT_TRUE(item["createDate"].is_string() || item["createDate"].is_null());
    EXPECT_TRUE(item["accessDate"].is_string() || item["accessDate"].is_null());
    EXPECT_TRUE(item["checked"].is_boolean());
  }
}

TEST(CliScanTest, ListsTheDeletedFilesOfBothDemoPartitions) {
  const auto ntfs = Restorix("scan " + Demo() + " -p 2 --json");
  ASSERT_EQ(ntfs.exitCode, 0) << ntfs.err;
  const auto json = nlohmann::json::parse(ntfs.out);
  ExpectScanSchema(json);
  EXPECT_EQ(json["fsType"], 3);
  EXPECT_EQ(json["mode"], "deleted");
  EXPECT_EQ(json["completed"], true);
  std::vector<std::string> paths;
  for (const auto& item : json["items"])
    paths.push_back(item["path"]);
  for (const char* expected :
       {"Photos/2026/holiday-01.jpg", "tiny-note.txt", "Projects/old-site/css/style.css"}) {
    EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << expected;
  }
  const auto fat = Restorix("scan " + Demo() + " -p 1");
  ASSERT_EQ(fat.exitCode, 0) << fat.err;
  EXPECT_NE(fat.out.find("R\xC3\xA9sum\xC3\xA9 draft 2026.txt"), std::string::npos) << fat.out;
  EXPECT_NE(fat.out.find("Total "), std::string::npos);
}

// The bytes recovered from the demo disk are the files' own, as its manifest
// records them.
TEST(CliScanTest, RecoverWritesTheDemoFilesAndASavedScanRecoversTheSame) {
  test::TempDir dir;
  const auto direct =
      Restorix("recover " + Demo() + " -p 2 --to " + Quote(dir.path().string()) + " --json");
  ASSERT_EQ(direct.exitCode, 0) << direct.err;
  const auto report = nlohmann::json::parse(direct.out);
  EXPECT_EQ(report["completed"], true);
  EXPECT_EQ(report["runFolder"], (dir / "#").string());
  EXPECT_GT(report["files"].get<int>(), 10);

  std::ifstream manifest(test::SourceFixture("demo-disk.manifest.tsv"));
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string partition, path, state, size, sha;
    std::getline(fields, partition, '\t');
    std::getline(fields, path, '\t');
    std::getline(fields, state, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    if (partition != "2" || state != "deleted") continue;
    EXPECT_EQ(test::Sha256OfFile(dir / "#" / path.substr(1)), sha) << path;
    ++checked;
  }
  EXPECT_GT(checked, 5);

  const auto scan =
      Restorix("scan " + Demo() + " -p 2 --save-scan " + Quote((dir / "saved").string()));
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const auto again = Restorix("recover --scan " + Quote((dir / "saved.qns").string()) + " --to " +
                              Quote(dir.path().string()) + " --json");
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(nlohmann::json::parse(again.out)["runFolder"], (dir / "#0").string());
  EXPECT_EQ(test::Run("diff -r " + Quote((dir / "#").string()) + " " + Quote((dir / "#0").string()))
                .exitCode,
            0);

  const auto notAScan =
      Restorix("recover --scan " + Demo() + " --to " + Quote(dir.path().string()));
  EXPECT_EQ(notAScan.exitCode, 1);
  EXPECT_NE(notAScan.err.find("Scan Information file is not valid or corrupted."),
            std::string::npos);
}

TEST(CliScanTest, ASaveThatCannotCompleteIsReportedAsAborted) {
  test::TempDir dir;
  test::WriteFile(dir / "file", {1});
  const auto toFile =
      Restorix("recover " + Demo() + " -p 2 --to " + Quote((dir / "file").string()));
  EXPECT_EQ(toFile.exitCode, 1);
  EXPECT_NE(toFile.err.find("Saving of data aborted."), std::string::npos);
  const auto full = test::Run("ulimit -f 40; " + Quote(test::RestorixBinary().string()) +
                              " recover " + Demo() + " -p 2 --to " + Quote(dir.path().string()));
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("writing to the destination failed"), std::string::npos) << full.err;
  EXPECT_EQ(full.out.find("Saving of data completed."), std::string::npos);
  const auto json =
      test::Run("ulimit -f 40; " + Quote(test::RestorixBinary().string()) + " recover " + Demo() +
                " -p 2 --json --to " + Quote(dir.path().string()));
  EXPECT_EQ(json.exitCode, 1);
  const auto report = nlohmann::json::parse(json.out);
  EXPECT_EQ(report["completed"], false);
  EXPECT_NE(report["error"].get<std::string>().find("File too large ("), std::string::npos)
      << "the reason, with the item that could not be written";
}

// A command that fails exits 1 and says why, and with --json it prints a
// document with the reason under "error" rather than nothing.
TEST(CliScanTest, FailuresExitOneAndPrintAJsonErrorToo) {
  test::TempDir dir;
  const std::string to = " --to " + Quote(dir.path().string());
  const std::string saved = Quote((dir / "s.qns").string());
  ASSERT_EQ(Restorix("scan " + Demo() + " -p 2 --save-scan " + saved).exitCode, 0);
  const std::string missing = Quote((dir / "missing.qns").string());
  struct Case {
    std::string arguments;
    std::string message;  // on stderr, and in the JSON error
  };
  const Case cases[] = {
      {"recover " + Demo() + " -p 2" + to + " --select '*.nomatch'", "nothing to recover"},
      {"recover --scan " + saved + to + " --select '*.nomatch'", "nothing to recover"},
      {"recover --scan " + missing + to, "No such file or directory"},
      {"find --scan " + missing + " '*'", "No such file or directory"},
      {"scan " + Quote((dir / "missing.img").string()), "No such file or directory"},
      {"info " + Demo(), "holds a partition table"},
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

// The log file of a run: header, one row per step, 68 dashes after each.
TEST(CliSessionTest, LogFindSelectAndStopping) {
  test::TempDir dir;
  const std::string log = Quote((dir / "run.log").string());
  const auto scan = Restorix("scan " + Demo() + " -p 2 --save-scan " + Quote((dir / "s").string()) +
                             " --log " + log);
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const auto bytes = test::ReadFile(dir / "run.log");
  const std::string text(bytes.begin(), bytes.end());
  const std::string dashes(68, '-');
  EXPECT_EQ(text.rfind("------------------------Quillon Restorix v1.0.1  Process "
                       "Log------------------------\n\n\n" +
                           dashes,
                       0),
            0u);
  const std::string drive = test::Fixture("demo-disk.img").string() + " (partition 2)";
  for (const std::string& row :
       {"\nSelected " + drive + "\n\t\tProcessing Mode: Deleted File Recovery\n\t\t",
        "\nProcessing directory structure for " + drive + "\n",
        "\nCompleted Processing directory structure for " + drive + "\n"}) {
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  }
  EXPECT_EQ(text.substr(text.size() - 69), "\n" + dashes) << "no final line feed";

  const std::string saved = Quote((dir / "s.qns").string());
  const auto find = Restorix("find --scan " + saved + " 'HOLIDAY-0?.JPG' --at-least 10KB --json");
  ASSERT_EQ(find.exitCode, 0) << find.err;
  const auto found = nlohmann::json::parse(find.out);
  std::vector<std::string> paths;
  for (const auto& item : found["items"])
    paths.push_back(item["path"]);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"Photos/2026/holiday-03.jpg", "Photos/2026/holiday-01.jpg"}));
  EXPECT_EQ(nlohmann::json::parse(
                Restorix("find --scan " + saved + " 'HOLIDAY*' --match-case --json").out)["items"]
                .size(),
            0u);

  const auto picked = Restorix("recover --scan " + saved + " --to " + Quote(dir.path().string()) +
                               " --select 'Photos/*/' --select tiny-note.txt --json");
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  EXPECT_EQ(nlohmann::json::parse(picked.out)["files"], 4);
  EXPECT_TRUE(std::filesystem::exists(dir / "#/Photos/2026/holiday-02.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dir / "#/tiny-note.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "#/Projects"));

  // Ctrl-C: the search ends as aborted with what it found, and says so.
  // --foreground sends one SIGINT, as a terminal does; without it timeout
  // signals its process group too, which can land as a second Ctrl-C.
  test::MakeSparseFile(dir / "big.img", 64ull << 30);
  const auto stopped = test::Run("timeout --foreground --preserve-status -s INT 1 " +
                                 Quote(test::RestorixBinary().string()) + " scan " +
                                 Quote((dir / "big.img").string()) + " --mode advanced --json");
  EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
  EXPECT_EQ(nlohmann::json::parse(stopped.out)["completed"], false);
}

TEST(CliSessionTest, OptionValuesAreCheckedBeforeAnythingRuns) {
  test::TempDir dir;
  test::WriteFile(dir / "file", {1});
  struct Case {
    std::string arguments;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"scan " + Demo() + " -p 2 --mode format --types xyz", 2, "unknown file type 'xyz'"},
      {"scan " + Demo() + " -p 2 --mode format --file-size 5GB", 2,
       "Please provide value in range of 1KB to 4GB"},
      {"scan " + Demo() + " -p 2 --mode format --file-size 0KB", 2,
       "Please provide value in range of 1KB to 4GB"},
      {"scan " + Demo() + " -p 2 --mode sideways", 2, "sideways"},
      {"scan " + Demo() + " -p 9", 1, "has no partition 9"},
      {"recover " + Demo() + " -p 2 --to " + Quote((dir / "file").string()), 1, "not a folder"},
      {"recover --scan " + Demo() + " --to " + Quote(dir.path().string()), 1,
       "not valid or corrupted"},
      {"recover " + Demo() + " -p 2 --to " + Quote(dir.path().string()) +
           " --at-least 1KB --at-most 2KB",
       2, "not both"},
      {"find --scan " + Demo() + " '*'", 1, "not valid or corrupted"},
      {"recover --scan s.qns --mode advanced --to " + Quote(dir.path().string()), 2,
       "--mode excludes --scan"},
      {"recover " + Demo() + " --source x --to " + Quote(dir.path().string()), 2,
       "--source requires --scan"},
  };
  for (const Case& c : cases) {
    const auto result = Restorix(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
  }
  for (const char* usage : {"", "info", "frobnicate", "info x --partition 0"}) {
    EXPECT_EQ(Restorix(usage).exitCode, 2) << usage;
  }
  for (const char* command :
       {"drives", "partitions", "info", "scan", "recover", "find", "image", "types"}) {
    const auto help = Restorix(std::string(command) + " --help");
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_NE(help.out.find("Example:"), std::string::npos) << command;
  }
  const auto drives = Restorix("drives --json");
  ASSERT_EQ(drives.exitCode, 0) << drives.err;
  EXPECT_TRUE(nlohmann::json::parse(drives.out).is_object());
  const auto types = nlohmann::json::parse(Restorix("types --json").out);
  EXPECT_GT(types["types"].size(), 30u);
}

}  // namespace
}  // namespace restorix
