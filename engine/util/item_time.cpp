#include "util/item_time.h"

#include <cstdio>

#include "util/civil_date.h"

namespace restorix {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsPerDay = 86400;

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

ItemTime NtfsItemTime(std::uint64_t ntfsTime) {
  if (ntfsTime == 0 || ntfsTime > static_cast<std::uint64_t>(INT64_MAX)) return {};
  return {static_cast<std::int64_t>(ntfsTime), 0};
}

ItemTime FatItemTime(std::uint16_t date, std::uint16_t time, std::uint8_t tenMs) {
  const int year = 1980 + (date >> 9), month = (date >> 5) & 0x0F, day = date & 0x1F;
  const int hour = time >> 11, minute = (time >> 5) & 0x3F, second = 2 * (time & 0x1F);
  if (date == 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59 || tenMs > 199) {
    return {};
  }
  const std::int64_t seconds =
      (DaysFromCivil(year, month, day) + kDaysFrom1601To1970) * kSecondsPerDay + hour * 3600 +
      minute * 60 + second;
  return {seconds * kTicksPerSecond + std::int64_t{tenMs} * 100000, ItemTime::kNoZone};
}

ItemTime ExfatItemTime(std::uint32_t timestamp, std::uint8_t tenMs, std::uint8_t offset) {
  ItemTime time = FatItemTime(static_cast<std::uint16_t>(timestamp >> 16),
                              static_cast<std::uint16_t>(timestamp), tenMs);
  if (time.known() && (offset & 0x80) != 0) {
    const int steps = offset & 0x7F;
    time.utcOffset = static_cast<std::int16_t>(15 * (steps >= 64 ? steps - 128 : steps));
  }
  return time;
}

std::string IsoTime(const ItemTime& time) {
  if (!time.known()) return {};
  const std::int64_t seconds = time.ticks / kTicksPerSecond;
  const std::int64_t fraction = time.ticks % kTicksPerSecond;
  const std::int64_t inDay = seconds % kSecondsPerDay;
  int year = 0, month = 0, day = 0;
  CivilFromDays(seconds / kSecondsPerDay - kDaysFrom1601To1970, year, month, day);
  char text[48];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day,
                        static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                        static_cast<int>(inDay % 60));
  if (fraction != 0) {
    char digits[12];
    std::snprintf(digits, sizeof digits, "%07lld", static_cast<long long>(fraction));
    int length = 7;
    while (digits[length - 1] == '0')
      --length;
    n +=
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%.*s", length, digits);
  }
  if (time.utcOffset == 0) {
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "Z");
  } else if (time.utcOffset != ItemTime::kNoZone) {
    const int minutes = time.utcOffset < 0 ? -time.utcOffset : time.utcOffset;
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%c%02d:%02d",
                  time.utcOffset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  }
  return text;
}

std::optional<timespec> UnixTime(const ItemTime& time) {
  if (!time.known()) return std::nullopt;
  const std::int64_t seconds = time.ticks / kTicksPerSecond - kDaysFrom1601To1970 * kSecondsPerDay;
  const long nanos = static_cast<long>(time.ticks % kTicksPerSecond * 100);
  std::time_t unix = static_cast<std::time_t>(seconds);
  if (time.utcOffset == ItemTime::kNoZone) {
    // Wall-clock fields, read in this machine's zone.
    int year = 0, month = 0, day = 0;
    CivilFromDays(seconds / kSecondsPerDay, year, month, day);
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = static_cast<int>(seconds % kSecondsPerDay / 3600);
    fields.tm_min = static_cast<int>(seconds % 3600 / 60);
    fields.tm_sec = static_cast<int>(seconds % 60);
    fields.tm_isdst = -1;
    unix = std::mktime(&fields);
    if (unix == -1) return std::nullopt;
  } else {
    unix -= time.utcOffset * 60;
  }
  if (unix < 0) return std::nullopt;
  return timespec{unix, nanos};
}

}  // namespace restorix
