#include "util/fat_date.h"

#include <gtest/gtest.h>

#include <chrono>

namespace restorix {
namespace {

// An NTFS time for a day and time of day, computed with the standard
// calendar rather than the conversion under test.
std::uint64_t NtfsTime(int y, unsigned m, unsigned d, int seconds = 0) {
  using namespace std::chrono;
  const auto days = sys_days{year{y} / month{m} / day{d}}.time_since_epoch().count();
  const std::int64_t unix = days * 86400 + seconds;
  return static_cast<std::uint64_t>((unix + 11644473600ll) * 10000000ll);
}

TEST(FatDateTest, NtfsTimesBecomePackedDates) {
  struct Case {
    int y;
    unsigned m, d;
    int seconds;
    std::uint16_t packed;
  };
  const Case cases[] = {
      {1980, 1, 1, 0, (0 << 9) | (1 << 5) | 1},
      {2026, 12, 5, 2 * 3600 + 10 * 60 + 43, (46 << 9) | (12 << 5) | 5},
      {2026, 12, 5, 86399, (46 << 9) | (12 << 5) | 5},  // the last second of the day
      {2000, 2, 29, 0, (20 << 9) | (2 << 5) | 29},      // leap day of a century year
      {2024, 2, 29, 43200, (44 << 9) | (2 << 5) | 29},
      {2023, 3, 1, 0, (43 << 9) | (3 << 5) | 1},   // the day after a non-leap February
      {2100, 3, 1, 0, (120 << 9) | (3 << 5) | 1},  // 2100 is not a leap year
      {2107, 12, 31, 86399, (127 << 9) | (12 << 5) | 31},
      {1979, 12, 31, 86399, 0},  // before the packed form begins
      {2108, 1, 1, 0, 0},        // past its end
      {1601, 1, 1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FatDateFromNtfsTime(NtfsTime(c.y, c.m, c.d, c.seconds)), c.packed)
        << c.y << "-" << c.m << "-" << c.d;
  }
  EXPECT_EQ(FatDateFromNtfsTime(0), 0);
  EXPECT_EQ(FatDateFromNtfsTime(~std::uint64_t{0}), 0);
}

TEST(FatDateTest, IsoText) {
  EXPECT_EQ(IsoDateFromFatDate((46 << 9) | (12 << 5) | 5), "2026-12-05");
  EXPECT_EQ(IsoDateFromFatDate(0), "");
}

// Recovered files are dated at local midnight of the item's date; packed
// values that are no date (from a damaged disk) give none.
TEST(FatDateTest, LocalMidnightOfAPackedDate) {
  struct Case {
    int year, month, day;
    bool valid;
  };
  const Case cases[] = {
      {2026, 12, 5, true},  {1980, 1, 1, true},   {2107, 12, 31, true},
      {2024, 2, 29, true},  {2025, 2, 29, false}, {2026, 4, 31, false},
      {2026, 13, 1, false}, {2026, 0, 1, false},  {2026, 1, 0, false},
  };
  for (const Case& c : cases) {
    const auto packed = static_cast<std::uint16_t>(((c.year - 1980) << 9) | (c.month << 5) | c.day);
    const auto time = LocalTimeFromFatDate(packed);
    ASSERT_EQ(time.has_value(), c.valid) << c.year << "-" << c.month << "-" << c.day;
    if (!time) continue;
    std::tm local{};
    localtime_r(&*time, &local);
    EXPECT_EQ(std::tuple(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec),
              std::tuple(c.year, c.month, c.day, 0, 0, 0));
  }
  EXPECT_FALSE(LocalTimeFromFatDate(0));
}

}  // namespace
}  // namespace restorix
