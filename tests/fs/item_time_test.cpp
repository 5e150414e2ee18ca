// Full file times: what each file system's fields become, in ISO 8601 and
// as the point a recovered file is given.
#include "util/item_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace restorix {
namespace {

constexpr std::uint16_t kDate = (46 << 9) | (12 << 5) | 7;   // 2026-12-07
constexpr std::uint16_t kTime = (14 << 11) | (44 << 5) | 6;  // 14:44:12

TEST(ItemTimeTest, EachFileSystemsFieldsInIso8601) {
  const struct {
    const char* what;
    ItemTime time;
    const char* iso;
  } cases[] = {
      {"FAT: local time, no zone", FatItemTime(kDate, kTime), "2026-12-07T14:44:12"},
      {"FAT creation with 10 ms steps", FatItemTime(kDate, kTime, 134), "2026-12-07T14:44:13.34"},
      {"FAT access date alone", FatItemTime(kDate, 0), "2026-12-07T00:00:00"},
      {"FAT: no date", FatItemTime(0, kTime), ""},
      {"FAT: month 13", FatItemTime((46 << 9) | (13 << 5) | 1, 0), ""},
      {"FAT: February 29 of a common year", FatItemTime((47 << 9) | (2 << 5) | 29, 0), ""},
      {"FAT: February 29 of a leap year", FatItemTime((48 << 9) | (2 << 5) | 29, 0),
       "2028-02-29T00:00:00"},
      {"FAT: hour 24", FatItemTime(kDate, 24 << 11), ""},
      {"FAT: 10 ms steps past 1.99 s", FatItemTime(kDate, kTime, 200), ""},
      {"exFAT without an offset", ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 0, 0x00),
       "2026-12-07T14:44:12"},
      {"exFAT at UTC", ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 5, 0x80),
       "2026-12-07T14:44:12.05Z"},
      {"exFAT one hour east", ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 0, 0x84),
       "2026-12-07T14:44:12+01:00"},
      {"exFAT 5:30 west", ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 0, 0x80 | (128 - 22)),
       "2026-12-07T14:44:12-05:30"},
      {"NTFS, UTC, 100 ns steps", NtfsItemTime(134093474520000001ull),
       "2025-12-04T18:44:12.0000001Z"},
      {"NTFS: none", NtfsItemTime(0), ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsoTime(c.time), c.iso) << c.what;
}

TEST(ItemTimeTest, TheUnixTimeOfZonedAndLocalTimes) {
  // 2026-12-07T14:44:12Z
  constexpr std::time_t kUtc = 1796654652;
  const auto utc = UnixTime(ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 50, 0x80));
  ASSERT_TRUE(utc);
  EXPECT_EQ(utc->tv_sec, kUtc);
  EXPECT_EQ(utc->tv_nsec, 500000000);
  const auto east = UnixTime(ExfatItemTime(std::uint32_t{kDate} << 16 | kTime, 0, 0x84));
  ASSERT_TRUE(east);
  EXPECT_EQ(east->tv_sec, kUtc - 3600);
  // A FAT time is the local clock's: read in this process's zone.
  const char* zone = std::getenv("TZ");
  const std::string saved = zone ? zone : "";
  setenv("TZ", "UTC+2", 1);
  tzset();
  const auto local = UnixTime(FatItemTime(kDate, kTime));
  zone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  ASSERT_TRUE(local);
  EXPECT_EQ(local->tv_sec, kUtc + 7200);
  EXPECT_FALSE(UnixTime(NtfsItemTime(1)));  // 1601: before 1970
}

}  // namespace
}  // namespace restorix
