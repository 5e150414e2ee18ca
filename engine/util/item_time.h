// Full file times as the file systems keep them: NTFS in UTC, FAT in local
// wall-clock time with no zone, exFAT with its offset from UTC where it
// gives one. Scans keep them beside the packed dates that scan-information
// files store; they are not stored there.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace restorix {

struct ItemTime {
  // Minutes east of UTC that `ticks` counts in, or kNoZone for a time of
  // the local clock of whoever wrote it (FAT).
  static constexpr std::int16_t kNoZone = INT16_MIN;
  std::int64_t ticks = 0;  // 100 ns since 1601-01-01 00:00 on that clock; 0 for none
  std::int16_t utcOffset = kNoZone;
  bool known() const { return ticks != 0; }
  friend bool operator==(const ItemTime&, const ItemTime&) = default;
};

struct ItemTimes {
  ItemTime created, modified, accessed;
  friend bool operator==(const ItemTimes&, const ItemTimes&) = default;
};

// An NTFS time (UTC).
ItemTime NtfsItemTime(std::uint64_t ntfsTime);
// A FAT date and time of day (2-second steps) with 10 ms steps beyond them
// (0 to 199); none for a date or time that is none.
ItemTime FatItemTime(std::uint16_t date, std::uint16_t time, std::uint8_t tenMs = 0);
// An exFAT timestamp (date in the high half, time in the low), its 10 ms
// steps and its offset byte (bit 7 set: the low seven bits are a signed
// count of 15-minute steps east of UTC).
ItemTime ExfatItemTime(std::uint32_t timestamp, std::uint8_t tenMs, std::uint8_t offset);

// ISO 8601: "2026-12-07T14:44:12", with a fraction where there is one
// (".34"), and "Z" or "+01:00" where the zone is known; empty for none.
std::string IsoTime(const ItemTime& time);

// The time as a point for the file system of the destination: a time
// without zone read as local time. nullopt for none, or before 1970.
std::optional<timespec> UnixTime(const ItemTime& time);

}  // namespace restorix
