// Item dates are FAT packed dates whatever the file system: bits 15-9 the
// year - 1980, bits 8-5 the month, bits 4-0 the day. No time of day is kept.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace restorix {

// An NTFS time (100-ns intervals since 1601-01-01) taken as it stands, with
// no time-zone shift. 0 when the date lies before 1980 or past 2107, where
// the packed form ends.
std::uint16_t FatDateFromNtfsTime(std::uint64_t ntfsTime);

std::uint16_t PackFatDate(int year, int month, int day);

// "2026-12-05"; empty for 0.
std::string IsoDateFromFatDate(std::uint16_t fatDate);

// Midnight, local time, of the packed date; nullopt for 0 and for a packed
// value that is no calendar date (month 13, February 30).
std::optional<std::time_t> LocalTimeFromFatDate(std::uint16_t fatDate);

}  // namespace restorix
