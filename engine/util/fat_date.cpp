#include "util/fat_date.h"

#include "util/civil_date.h"

namespace restorix {

namespace {

constexpr std::uint64_t kTicksPerDay = 864000000000ull;

}  // namespace

std::uint16_t PackFatDate(int year, int month, int day) {
  if (year < 1980 || year > 2107) return 0;
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t FatDateFromNtfsTime(std::uint64_t ntfsTime) {
  const auto days = static_cast<std::int64_t>(ntfsTime / kTicksPerDay) - kDaysFrom1601To1970;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  return PackFatDate(year, month, day);
}

std::string IsoDateFromFatDate(std::uint16_t fatDate) {
  if (fatDate == 0) return {};
  const int year = 1980 + (fatDate >> 9), month = (fatDate >> 5) & 0x0F, day = fatDate & 0x1F;
  std::string text = "0000-00-00";
  for (int i = 3, y = year; i >= 0; --i, y /= 10)
    text[i] = static_cast<char>('0' + y % 10);
  text[5] = static_cast<char>('0' + month / 10), text[6] = static_cast<char>('0' + month % 10);
  text[8] = static_cast<char>('0' + day / 10), text[9] = static_cast<char>('0' + day % 10);
  return text;
}

std::optional<std::time_t> LocalTimeFromFatDate(std::uint16_t fatDate) {
  if (fatDate == 0) return std::nullopt;
  std::tm day{};
  day.tm_year = 80 + (fatDate >> 9);
  day.tm_mon = ((fatDate >> 5) & 0x0F) - 1;
  day.tm_mday = fatDate & 0x1F;
  day.tm_isdst = -1;
  const std::tm asked = day;
  const std::time_t time = std::mktime(&day);
  // mktime carries a day or month out of range into the next; such a date
  // was never a date.
  if (time == -1 || day.tm_mday != asked.tm_mday || day.tm_mon != asked.tm_mon) return std::nullopt;
  return time;
}

}  // namespace restorix
