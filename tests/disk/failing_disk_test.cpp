// Failing sources: unreadable sectors recorded as ranges, a source taken for
// lost, and imaging the way GNU ddrescue does it, with its map, a stop, a
// lost source and a resume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "disk/imaging.h"
#include "disk/read_faults.h"
#include "disk/rescue_map.h"
#include "disk/volume.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "tasks/tasks.h"

namespace restorix {
namespace {

using S = BlockStatus;
using Ranges = std::vector<SectorRange>;
using test::TempDir;

TEST(RescueMapTest, SetSplitsAndJoinsBlocks) {
  struct Case {
    std::vector<RescueBlock> sets;  // applied in order
    std::vector<RescueBlock> blocks;
  };
  const Case cases[] = {
      {{}, {{0, 100, S::Untried}}},
      {{{0, 100, S::Finished}}, {{0, 100, S::Finished}}},
      {{{10, 20, S::Bad}}, {{0, 10, S::Untried}, {10, 20, S::Bad}, {30, 70, S::Untried}}},
      {{{10, 20, S::Bad}, {30, 10, S::Bad}},
       {{0, 10, S::Untried}, {10, 30, S::Bad}, {40, 60, S::Untried}}},
      {{{10, 20, S::Bad}, {0, 10, S::Bad}}, {{0, 30, S::Bad}, {30, 70, S::Untried}}},
      {{{10, 10, S::Bad}, {30, 10, S::Bad}, {20, 10, S::Bad}},
       {{0, 10, S::Untried}, {10, 30, S::Bad}, {40, 60, S::Untried}}},
      {{{10, 80, S::Finished}, {40, 10, S::NonTrimmed}},
       {{0, 10, S::Untried},
        {10, 30, S::Finished},
        {40, 10, S::NonTrimmed},
        {50, 40, S::Finished},
        {90, 10, S::Untried}}},
      {{{90, 50, S::Bad}}, {{0, 90, S::Untried}, {90, 10, S::Bad}}},
      {{{100, 5, S::Bad}, {10, 0, S::Bad}}, {{0, 100, S::Untried}}},
      {{{10, 20, S::Bad}, {60, 5, S::Finished}, {5, 90, S::Untried}}, {{0, 100, S::Untried}}},
  };
  for (const Case& c : cases) {
    RescueMap map(100);
    for (const RescueBlock& set : c.sets)
      map.Set(set.position, set.size, set.status);
    std::ostringstream trace;
    for (const RescueBlock& set : c.sets)
      trace << set.position << "+" << set.size << static_cast<char>(set.status) << " ";
    EXPECT_EQ(map.blocks(), c.blocks) << trace.str();
  }
  RescueMap map(100);
  map.Set(10, 10, S::Bad);
  map.Set(50, 10, S::Bad);
  EXPECT_EQ(map.Next(0, S::Bad), (RescueBlock{10, 10, S::Bad}));
  EXPECT_EQ(map.Next(15, S::Bad), (RescueBlock{15, 5, S::Bad}));
  EXPECT_EQ(map.Next(20, S::Bad), (RescueBlock{50, 10, S::Bad}));
  EXPECT_EQ(map.Next(60, S::Bad), std::nullopt);
  EXPECT_EQ(map.Next(55, S::Untried), (RescueBlock{60, 40, S::Untried}));
  EXPECT_EQ(map.Bytes(S::Untried), 80u);
}

// The text is ddrescue's: a position line, then contiguous blocks from 0.
// Maps that ddrescue writes are read back; anything else is refused.
TEST(RescueMapTest, TextIsReadBackAndBrokenMapsAreRefused) {
  RescueMap map(0x20000);
  map.Set(0x10000, 0x200, S::Bad);
  map.Set(0x10200, 0x1000, S::NonScraped);
  map.currentPosition = 0x10200;
  map.phase = RescuePhase::Scraping;
  map.pass = 2;
  const std::string text = map.Text();
  EXPECT_NE(text.find("0x00010200     /               2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("0x00010000  0x00000200  -\n"), std::string::npos) << text;
  const auto back = RescueMap::Parse(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->blocks(), map.blocks());
  EXPECT_EQ(back->currentPosition, 0x10200u);
  EXPECT_EQ(back->phase, RescuePhase::Scraping);
  EXPECT_EQ(back->pass, 2);

  const std::string ddrescue =
      "# Mapfile. Created by GNU ddrescue version 1.27\n"
      "# Command line: ddrescue -b 512 in out map\n"
      "# Start time:   2026-12-07 10:00:00\n"
      "# Finished\n"
      "# current_pos  current_status  current_pass\n"
      "0x00010000     +               1\n"
      "#      pos        size  status\n"
      "0x00000000  0x00010000  +\n"
      "0x00010000  0x00000200  -\n"
      "0x00010200  0x0000FE00  +\n";
  const auto read = RescueMap::Parse(ddrescue);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), 0x20000u);
  EXPECT_EQ(read->phase, RescuePhase::Finished);
  EXPECT_EQ(read->Bytes(S::Bad), 0x200u);

  const std::string head = "0x0 ?\n";
  for (const std::string& broken : {
           std::string(""),                                                // no position line
           std::string("# only comments\n"),                               //
           head + "0x0 0x100 +\n0x200 0x100 -\n",                          // a gap
           head + "0x0 0x100 +\n0x80 0x100 -\n",                           // an overlap
           head + "0x100 0x100 +\n",                                       // not from 0
           head + "0x0 0x0 +\n",                                           // an empty block
           head + "0x0 0x100 X\n",                                         // no such status
           head + "0x0 0x100\n",                                           // no status
           head + "0x0 0xFFFFFFFFFFFFFFFF +\n",                            // past 2^63
           head + "0x0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 0x2 +\n",  // ends past 2^63
           std::string("0xZZ ?\n0x0 0x100 +\n"),                           // not a number
           std::string("0x0 Q\n"),                                         // no such phase
       }) {
    EXPECT_FALSE(RescueMap::Parse(broken)) << broken;
  }
}

TEST(ReadFaultsTest, RangesMergeAndASourceThatOnlyFailsIsLost) {
  const std::vector<std::pair<Ranges, Ranges>> cases = {
      {{{5, 1}}, {{5, 1}}},
      {{{5, 1}, {6, 1}, {4, 1}}, {{4, 3}}},
      {{{5, 1}, {5, 1}}, {{5, 1}}},
      {{{10, 5}, {0, 2}, {12, 10}}, {{0, 2}, {10, 12}}},
      {{{10, 2}, {20, 2}, {0, 100}}, {{0, 100}}},
      {{{10, 0}}, {}},
  };
  for (const auto& [added, expected] : cases) {
    ReadFaults faults;
    for (const SectorRange& range : added)
      faults.AddUnreadable(range.first, range.count);
    EXPECT_EQ(faults.unreadable(), expected);
    EXPECT_EQ(SectorCount(faults.unreadable()), SectorCount(expected));
  }

  // Failures from the start: lost after kLostBeforeAnyRead of them.
  ReadFaults faults;
  for (std::uint64_t i = 1; i < kLostBeforeAnyRead; ++i)
    ASSERT_FALSE(faults.NoteRead(false)) << i;
  EXPECT_TRUE(faults.NoteRead(false));
  // Once a read succeeded, only a far longer run of failures is.
  faults.Clear();
  faults.NoteRead(true);
  for (std::uint64_t i = 1; i < kLostInARow; ++i)
    ASSERT_FALSE(faults.NoteRead(false)) << i;
  EXPECT_TRUE(faults.NoteRead(false));
  faults.NoteRead(true);
  EXPECT_FALSE(faults.NoteRead(false)) << "a good read ends the run";
}

// A read across bad sectors gives the good ones and records the bad; a
// dropped FUSE source and a source that fails every read are lost devices.
TEST(ReadSectorsTest, UnreadableSectorsAreRecordedAndDeadSourcesLost) {
  const auto source = std::make_shared<test::FakeSource>(test::Pattern(4096));
  const auto volume = Volume::Open(SourceKind::PhysicalDisk, source, u"disk").volume;
  source->FailRange(10 * 512, 3 * 512, EIO);
  source->FailRange(100 * 512 + 7, 1, EIO);
  std::vector<std::uint8_t> buffer(128 * 512);
  EXPECT_EQ(volume->ReadSectors(buffer, 0), EIO);
  std::vector<std::uint8_t> one(512);
  EXPECT_EQ(volume->ReadSectors(one, 100), EIO);
  EXPECT_EQ(volume->ReadSectors(one, 101), 0);
  EXPECT_EQ(volume->faults().unreadable(), (Ranges{{10, 3}, {100, 1}}));
  auto expected = test::Pattern(128);
  std::fill_n(expected.begin() + 10 * 512, 3 * 512, 0);
  std::fill_n(expected.begin() + 100 * 512, 512, 0);
  EXPECT_EQ(buffer, expected);

  source->LoseAt(2000 * 512);
  try {
    volume->ReadSectors(buffer, 1990);
    ADD_FAILURE() << "a dropped source read on";
  } catch (const DeviceLostError& lost) {
    EXPECT_EQ(lost.error(), ENOTCONN);
  }

  const auto dead = std::make_shared<test::FakeSource>(test::Pattern(4096));
  const auto deadVolume = Volume::Open(SourceKind::PhysicalDisk, dead, u"dead").volume;
  dead->FailRange(0, 4096 * 512, EIO);
  EXPECT_THROW(
      {
        for (std::uint64_t sector = 0; sector < 4096; sector += 8)
          deadVolume->ReadSectors(MutableBytes(buffer).first(8 * 512), sector);
      },
      DeviceLostError);
  EXPECT_LE(dead->reads(), static_cast<int>(kLostBeforeAnyRead));
}

// Images a volume over the fake source through the imaging task.
struct Imager : TaskSink {
  StopToken stop;
  int stopAfter = -1;  // progress reports before the task is stopped
  std::vector<ProcessLogEntry> rows;
  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (stopAfter >= 0 && stopAfter-- == 0) stop.RequestStop();
  }
  void LogEntry(const ProcessLogEntry& entry) override { rows.push_back(entry); }
  TaskReport Image(const Volume& volume, const std::filesystem::path& path, bool resume = false) {
    ProcessLogEntry entry{"Imaging Disk :disk", "", "", LOG_STARTED};
    return RunOnWorker(stop, [&] {
      return ImagingTask(volume, path, stop, *this, entry,
                         resume ? ImagingRun::Resume : ImagingRun::Resumable);
    });
  }
};

struct Disk {
  std::shared_ptr<test::FakeSource> source;
  std::shared_ptr<const Volume> volume;
  explicit Disk(std::size_t sectors, const Ranges& bad = {})
      : source(std::make_shared<test::FakeSource>(test::Pattern(sectors))),
        volume(Volume::Open(SourceKind::PhysicalDisk, source, u"disk").volume) {
    for (const SectorRange& range : bad)
      source->FailRange(range.first * 512, range.count * 512, EIO);
  }
  // The image a finished run must leave: the source, zeros for the bad
  // sectors, rounded up to whole blocks.
  std::vector<std::uint8_t> Expected(const Ranges& bad) const {
    auto bytes = source->bytes();
    for (const SectorRange& range : bad)
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(range.first * 512), range.count * 512,
                  0);
    bytes.resize((bytes.size() / 512 + 62) / 63 * 63 * 512, 0);
    return bytes;
  }
};

// The map's blocks for a finished image of `sectors` sectors with `bad`.
std::vector<RescueBlock> FinishedBlocks(std::uint64_t sectors, const Ranges& bad) {
  RescueMap map((sectors + 62) / 63 * 63 * 512);
  map.Set(0, map.size(), S::Finished);
  for (const SectorRange& range : bad)
    map.Set(range.first * 512, range.count * 512, S::Bad);
  return map.blocks();
}

// The bad sectors as ddrescuelog lists them, one number a line.
std::string DdrescueBadSectors(const std::filesystem::path& map) {
  return test::RunOk("ddrescuelog --list-blocks=- -b 512 " + test::Quote(map.string()));
}

// Every readable sector is copied and every unreadable one is found, bad
// ranges small and large, at the start and the end; the map says so in a
// form ddrescuelog reads.
TEST(RescueImagingTest, FinishedImagesAndTheirMaps) {
  const std::vector<std::pair<std::size_t, Ranges>> cases = {
      {4096, {}},
      {4096, {{70, 1}}},
      {4096, {{0, 1}}},
      {4096, {{4095, 1}}},
      {4096, {{1000, 10}, {2000, 300}, {2400, 1}, {2402, 1}}},
      {4000, {{0, 600}, {3990, 10}}},
      {100, {{10, 90}}},
  };
  const bool ddrescuelog = test::HaveTool("ddrescuelog");
  for (const auto& [sectors, bad] : cases) {
    SCOPED_TRACE(std::to_string(sectors) + " sectors, " + std::to_string(bad.size()) + " bad");
    TempDir dir;
    Disk disk(sectors, bad);
    Imager imager;
    const TaskReport report = imager.Image(*disk.volume, dir / "out.qni");
    ASSERT_TRUE(report.completed);
    EXPECT_EQ(report.unreadable, bad);
    EXPECT_EQ(report.image.sectorsRescued, sectors - SectorCount(bad));
    EXPECT_EQ(test::ReadFile(dir / "out.qni"), disk.Expected(bad));
    const auto map = LoadRescueMap(dir / "out.qni.map");
    ASSERT_TRUE(map);
    EXPECT_EQ(map->blocks(), FinishedBlocks(sectors, bad));
    EXPECT_EQ(map->phase, RescuePhase::Finished);
    // The log's row of unreadable sectors follows the closing row.
    ASSERT_EQ(imager.rows.size(), bad.empty() ? 2u : 3u);
    if (!bad.empty()) {
      EXPECT_EQ(imager.rows[2].processName,
                "Unreadable sectors: " + std::to_string(SectorCount(bad)));
    }
    if (ddrescuelog) {
      std::string listed;
      for (const SectorRange& range : bad)
        for (std::uint64_t s = range.first; s < range.first + range.count; ++s)
          listed += std::to_string(s) + "\n";
      EXPECT_EQ(DdrescueBadSectors(dir / "out.qni.map"), listed);
    }
  }
  if (!ddrescuelog)
    GTEST_SKIP() << "ddrescuelog (gddrescue) is not installed: maps not checked with it";
}

// The first pass skips ahead of a failed cluster, further after each failure
// in a row, before any sector of a bad area is read alone.
TEST(RescueImagingTest, TheFirstPassSkipsAheadFurtherAfterEachFailure) {
  const std::uint64_t sectors = 32768;  // 16 MiB: the skip grows to 1% of it
  Disk disk(sectors, {{4000, 12000}});
  TempDir dir;
  ASSERT_TRUE(Imager().Image(*disk.volume, dir / "out.qni").completed);
  std::vector<std::uint64_t> failed;  // first-pass reads inside the bad area
  std::uint64_t last = 0;
  for (const auto& [offset, length] : disk.source->readLog()) {
    if (offset < last) break;  // the second pass goes back
    last = offset;
    const std::uint64_t first = offset / 512;
    if (first + length / 512 > 4000 && first < 16000) failed.push_back(first);
  }
  ASSERT_GE(failed.size(), 4u);
  std::vector<std::uint64_t> gaps;
  for (std::size_t i = 1; i < failed.size(); ++i)
    gaps.push_back(failed[i] - failed[i - 1] - 128);
  EXPECT_EQ(gaps[0], kRescueFirstSkipBytes / 512);
  EXPECT_EQ(gaps[1], 2 * kRescueFirstSkipBytes / 512);
  EXPECT_EQ(gaps.back(), sectors / 100);
  EXPECT_TRUE(std::is_sorted(gaps.begin(), gaps.end()));
}

// A run stopped at any point, or ended by a lost source, leaves an image and
// a map from which a second run finishes the same image as one run would.
TEST(RescueImagingTest, StoppedAndLostRunsResumeToTheSameImage) {
  const Ranges bad = {{300, 2}, {1000, 400}, {3000, 1}};
  struct Case {
    int stopAfter;
    std::uint64_t loseAtSector;  // UINT64_MAX: not lost
  };
  const Case cases[] = {{0, UINT64_MAX},   {3, UINT64_MAX}, {20, UINT64_MAX},
                        {200, UINT64_MAX}, {-1, 0},         {-1, 1},
                        {-1, 1001},        {-1, 2500},      {-1, 4095}};
  int wholeRunReads = 0;
  {
    TempDir dir;
    Disk whole(4096, bad);
    ASSERT_TRUE(Imager().Image(*whole.volume, dir / "out.qni").completed);
    wholeRunReads = whole.source->reads();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE("stop after " + std::to_string(c.stopAfter) + ", lost at " +
                 std::to_string(c.loseAtSector));
    TempDir dir;
    Disk first(4096, bad);
    if (c.loseAtSector != UINT64_MAX) first.source->LoseAt(c.loseAtSector * 512);
    Imager stopped;
    stopped.stopAfter = c.stopAfter;
    const TaskReport cut = stopped.Image(*first.volume, dir / "out.qni");
    ASSERT_FALSE(cut.completed);
    EXPECT_EQ(cut.deviceLost, c.loseAtSector != UINT64_MAX);
    EXPECT_EQ(cut.image.stop,
              cut.deviceLost ? ImageResult::Stop::SourceLost : ImageResult::Stop::Cancelled);
    const auto map = LoadRescueMap(dir / "out.qni.map");
    ASSERT_TRUE(map);
    EXPECT_LT(map->Bytes(S::Finished), map->size());
    EXPECT_EQ(map->Bytes(S::Finished) / 512, cut.image.sectorsRescued + 4158 - 4096);

    Disk second(4096, bad);
    const TaskReport resumed = Imager().Image(*second.volume, dir / "out.qni", true);
    ASSERT_TRUE(resumed.completed);
    EXPECT_EQ(resumed.unreadable, bad);
    EXPECT_EQ(test::ReadFile(dir / "out.qni"), second.Expected(bad));
    EXPECT_EQ(LoadRescueMap(dir / "out.qni.map")->blocks(), FinishedBlocks(4096, bad));
    // What the first run copied is not read again.
    EXPECT_LE(second.source->reads(), wholeRunReads);
  }
}

// Nothing to resume from: no image, no map, a map of another size or one
// that is no map. Nothing is written then.
TEST(RescueImagingTest, AResumeNeedsTheImageAndItsMap) {
  enum Setup { NoImage, NoMap, OtherSize, Garbage };
  for (const Setup setup : {NoImage, NoMap, OtherSize, Garbage}) {
    TempDir dir;
    Disk disk(4096);
    if (setup != NoImage) test::WriteFile(dir / "out.qni", {1, 2, 3});
    if (setup == OtherSize) {
      ASSERT_EQ(SaveRescueMap(RescueMap(512), dir / "out.qni.map"), 0);
    }
    if (setup == Garbage) test::WriteFile(dir / "out.qni.map", {'x', '\n'});
    const TaskReport report = Imager().Image(*disk.volume, dir / "out.qni", true);
    EXPECT_EQ(report.image.stop, ImageResult::Stop::NoMap) << setup;
    EXPECT_EQ(std::filesystem::exists(dir / "out.qni"), setup != NoImage) << setup;
    if (setup != NoImage) {
      EXPECT_EQ(test::ReadFile(dir / "out.qni").size(), 3u) << setup;
    }
  }
}

// The sector-by-sector retries of a failed read end when the task is
// stopped: a dying disk can take seconds over each sector.
TEST(ReadFaultsTest, RetriesEndWhenTheTaskIsStopped) {
  for (const bool stop : {false, true}) {
    Disk disk(4096, {{100, 1948}});
    StopToken token;
    if (stop) token.RequestStop();
    disk.volume->faults().Watch(&token);
    std::vector<std::uint8_t> buffer(2048 * 512, 1);
    const int before = disk.source->reads();
    EXPECT_NE(disk.volume->ReadSectors(buffer, 0), 0);
    disk.volume->faults().Watch(nullptr);
    EXPECT_EQ(disk.source->reads() - before, stop ? 1 : 2049);
    const Ranges unreadable = stop ? Ranges{} : Ranges{{100, 1948}};
    EXPECT_EQ(disk.volume->faults().unreadable(), unreadable);
    auto expected = disk.Expected({{100, 1948}});
    expected.resize(buffer.size());
    if (stop) std::fill(expected.begin(), expected.end(), 0);
    EXPECT_EQ(buffer, expected);
  }
}

// An image opened with its map beside it reads the sectors the map does not
// have as copied (bad, or never tried by a stopped run) as unreadable, and
// the rest as the source's bytes; a map of another size is not the image's.
TEST(RescueImagingTest, AnImageReadsWhatItsMapLacksAsUnreadable) {
  const Ranges bad{{1000, 3}, {2000, 1}};
  enum Setup { Completed, Stopped, OtherMap };
  for (const Setup setup : {Completed, Stopped, OtherMap}) {
    SCOPED_TRACE(setup);
    TempDir dir;
    Disk disk(4096, bad);
    Imager imager;
    if (setup == Stopped) imager.stopAfter = 3;
    EXPECT_EQ(imager.Image(*disk.volume, dir / "out.qni").completed, setup != Stopped);
    if (setup == OtherMap) {
      ASSERT_EQ(SaveRescueMap(RescueMap(512), dir / "out.qni.map"), 0);
    }
    Ranges unknown;
    if (setup != OtherMap) {
      for (const RescueBlock& block : LoadRescueMap(dir / "out.qni.map")->blocks()) {
        if (block.status != S::Finished)
          unknown.push_back({block.position / 512, block.size / 512});
      }
    }
    ASSERT_EQ(unknown.empty(), setup == OtherMap);

    const auto image = Volume::Open(SourceKind::PhysicalDisk, dir / "out.qni").volume;
    ASSERT_TRUE(image);
    std::vector<std::uint8_t> bytes(4158 * 512);
    for (std::size_t at = 0; at < bytes.size(); at += 63 * 512)
      image->ReadSectors(MutableBytes(bytes).subspan(at, 63 * 512), at / 512);
    EXPECT_EQ(image->faults().unreadable(), unknown);
    auto expected = test::ReadFile(dir / "out.qni");
    for (const SectorRange& range : unknown)
      std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(range.first * 512),
                  range.count * 512, 0);
    EXPECT_EQ(bytes, expected);
  }
}

// A source whose every read fails ends as lost after a bounded number of
// reads, with its map saved; a stop ends it at once.
TEST(RescueImagingTest, ASourceThatFailsEveryReadIsLostOrStopped) {
  for (const bool stop : {false, true}) {
    TempDir dir;
    Disk disk(1 << 16, {{0, 1 << 16}});
    Imager imager;
    if (stop) imager.stopAfter = 2;
    const TaskReport report = imager.Image(*disk.volume, dir / "out.qni");
    EXPECT_EQ(report.deviceLost, !stop);
    EXPECT_EQ(report.image.stop,
              stop ? ImageResult::Stop::Cancelled : ImageResult::Stop::SourceLost);
    EXPECT_LE(disk.source->reads(), static_cast<int>(kLostBeforeAnyRead));
    EXPECT_EQ(report.image.sectorsRescued, 0u);
    EXPECT_TRUE(LoadRescueMap(dir / "out.qni.map"));
  }
}

}  // namespace
}  // namespace restorix
