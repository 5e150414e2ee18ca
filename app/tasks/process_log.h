// The process log: one row when a task starts and one when it ends, with
// its name, a description and the local time, kept in order, cleared on
// request and saved as a text file.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace restorix {

inline constexpr std::uint8_t LOG_STARTED = 0;
inline constexpr std::uint8_t LOG_ABORTED = 1;
inline constexpr std::uint8_t LOG_COMPLETED = 2;

struct ProcessLogEntry {
  std::string processName;
  std::string description;
  std::string logTime;  // written when the row is appended
  std::uint8_t status = LOG_STARTED;
};

// "Sat Dec 05 2026 02:10:43": weekday, month, day (two digits), year, clock,
// in local time, English names whatever the locale.
std::string FormatLogTime(std::time_t time);

// The proposed name of a saved log.
inline constexpr const char* kLogFileName = "Quillon Restorix ver 1.0.1 Process Log.txt";
// The message shown when a log cannot be saved.
inline constexpr const char* kLogSaveFailed = "Error creating log file";

class ProcessLog {
 public:
  // Appends a row, stamping it with the time.
  void Append(ProcessLogEntry entry, std::time_t now = std::time(nullptr));
  void Clear();
  std::vector<ProcessLogEntry> rows() const;
  bool empty() const;

  // The saved file's text: a header, then each row's name, description and
  // time on lines of their own, each row closed by a line of 68 dashes.
  std::string Text() const;
  // Writes Text() to `path`, under a temporary name that replaces the file
  // only once it is complete. False for an empty log or a file that cannot
  // be written whole (nothing of it is then left).
  bool Save(const std::filesystem::path& path) const;

 private:
  mutable std::mutex mutex_;
  std::vector<ProcessLogEntry> rows_;
};

}  // namespace restorix
