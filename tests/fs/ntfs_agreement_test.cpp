// The NTFS scan and data reader against The Sleuth Kit on volumes made by
// real tools: every unallocated MFT record that is a file with data must be
// an item with that record number, its name and size, and the bytes written
// for it must be the bytes icat reads. A record left out must be left out by
// a rule of the scan, written here, not by record number. TSK's answers are
// the recorded ones (tests/fixtures/tsk-answers/) but on one volume, where it
// is asked now, so that a change of TSK shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "disk/volume.h"
#include "fs/ntfs_data.h"
#include "fs/scan.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

struct Volume {
  const char* name;
  const char* fixture;
  unsigned partition;
  std::uint64_t tskOffset;  // where the volume starts in the fixture, in sectors
  bool live;                // TSK asked now, not its answers recorded as NAME.tsv
};

struct Agreement {
  int deletedFiles = 0, identical = 0, explained = 0, wrong = 0;
};

// The name the scan must choose among a record's file names: a DOS short
// alias gives way to the long name.
bool NameFits(const std::string& ours, const std::vector<std::string>& names) {
  if (names.empty()) return ours.empty();  // a record whose file name is gone
  for (const std::string& name : names) {
    if (name == ours)
      return names.size() == 1 || ours.find('~') == std::string::npos || names.back() == ours;
  }
  return false;
}

class NtfsAgreementTest : public testing::TestWithParam<Volume> {};

TEST_P(NtfsAgreementTest, EveryDeletedFileIsFoundWithTheBytesIcatReads) {
  const Volume& v = GetParam();
  const auto image = test::Fixture(v.fixture);
  const test::NtfsAnswers tsk =
      v.live ? test::AskTskNtfs(image, v.tskOffset) : test::RecordedNtfsAnswers(v.name);
  if (!v.live) {
    ASSERT_EQ(tsk.image, test::Sha256OfFile(image))
        << v.fixture << " is not the image its answers were recorded for: "
        << "run tests/fixtures/record-tsk-answers.py";
  }
  const auto volume = restorix::Volume::Open(SourceKind::LogicalDrive, image, v.partition).volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  ASSERT_TRUE(scan.completed);

  std::map<std::uint64_t, std::vector<const ItemNode*>> items;
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder() && !node.isLive()) items[node.id].push_back(&node);
  });

  Agreement agreement;
  const std::vector<std::uint64_t>& unallocated = tsk.unallocated;
  for (const std::uint64_t number : unallocated) {
    const test::TskRecord& record = tsk.records.at(number);
    if (record.directory) continue;
    ++agreement.deletedFiles;
    const auto& found = items[number];
    if (record.UnnamedDataSize() == 0) {
      // Rule: a deleted file without data in its unnamed stream is not listed.
      EXPECT_TRUE(found.empty()) << v.name << " record " << number;
      ++(found.empty() ? agreement.explained : agreement.wrong);
      continue;
    }
    std::vector<test::TskAttribute> streams;
    for (const auto& a : record.attributes) {
      // Rule: a record with an attribute list has the streams its list names.
      const std::string key = "128-" + std::to_string(a.id);
      const bool listed =
          std::find(record.listed.begin(), record.listed.end(), key) != record.listed.end();
      if (a.type == 128 && a.size != 0 && (!record.HasAttributeList() || listed))
        streams.push_back(a);
    }
    bool same = found.size() == streams.size();
    for (std::size_t i = 0; same && i < streams.size(); ++i) {
      const ItemNode& item = *found[i];
      const std::string address = std::to_string(number) + "-128-" + std::to_string(streams[i].id);
      same = NameFits(Utf8FromUtf16(item.name), record.names) && item.size == streams[i].size &&
             item.parentId == record.parent &&
             test::Sha256Of(test::ReadItem(*volume, item)) == tsk.Icat(address);
      EXPECT_TRUE(same) << v.name << " record " << address << " " << Utf8FromUtf16(item.name)
                        << " size " << item.size << " (icat: " << streams[i].size << ")";
    }
    EXPECT_EQ(found.size(), streams.size()) << v.name << " record " << number;
    ++(same ? agreement.identical : agreement.wrong);
  }
  // Nothing is listed that the reference does not know as unallocated.
  for (const auto& [number, list] : items) {
    EXPECT_NE(std::find(unallocated.begin(), unallocated.end(), number), unallocated.end())
        << v.name << ": record " << number << " is not unallocated";
  }
  std::printf("[ agreement ] %-24s deleted files %4d  identical %4d  explained %4d  wrong %d\n",
              v.name, agreement.deletedFiles, agreement.identical, agreement.explained,
              agreement.wrong);
  EXPECT_EQ(agreement.wrong, 0);
  EXPECT_GT(agreement.identical, 0);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsAgreementTest,
                         testing::Values(Volume{"demo-ntfs", "demo-disk.img", 2, 83968, false},
                                         Volume{"mkntfs-512", "ntfs-c512.img", 0, 0, false},
                                         Volume{"mkntfs-4k", "ntfs-c4k.img", 0, 0, false},
                                         Volume{"mkntfs-64k", "ntfs-c64k.img", 0, 0, false},
                                         Volume{"windows", "ntfs-windows-deleted.img", 0, 0, true}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace restorix
