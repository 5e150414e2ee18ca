#include "tasks/process_log.h"

#include <cstdio>

#include "platform/file_io.h"

namespace restorix {

namespace {
const std::string kSeparator = "\n" + std::string(68, '-');
}  // namespace

std::string FormatLogTime(std::time_t time) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&time, &local);  // never the shared buffer of localtime()
  char text[32];
  std::snprintf(text, sizeof text, "%s %s %02d %04d %02d:%02d:%02d", kWeekdays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_year + 1900, local.tm_hour,
                local.tm_min, local.tm_sec);
  return text;
}

void ProcessLog::Append(ProcessLogEntry entry, std::time_t now) {
  entry.logTime = FormatLogTime(now);
  const std::lock_guard lock(mutex_);
  rows_.push_back(std::move(entry));
}

void ProcessLog::Clear() {
  const std::lock_guard lock(mutex_);
  rows_.clear();
}

std::vector<ProcessLogEntry> ProcessLog::rows() const {
  const std::lock_guard lock(mutex_);
  return rows_;
}

bool ProcessLog::empty() const {
  const std::lock_guard lock(mutex_);
  return rows_.empty();
}

std::string ProcessLog::Text() const {
  std::string text =
      "------------------------Quillon Restorix v1.0.1  Process Log------------------------\n\n" +
      kSeparator;
  for (const ProcessLogEntry& row : rows()) {
    text +=
        "\n" + row.processName + "\n\t\t" + row.description + "\n\t\t" + row.logTime + kSeparator;
  }
  return text;
}

bool ProcessLog::Save(const std::filesystem::path& path) const {
  if (empty()) return false;
  ReplacementFile file(path);
  if (file.fd() < 0) return false;
  const std::string text = Text();
  try {
    WriteOrAbort(file.fd(), Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  } catch (const DeviceLostError&) {
    return false;
  }
  return file.Commit() == 0;
}

}  // namespace restorix
