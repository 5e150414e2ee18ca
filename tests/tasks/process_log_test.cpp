// The process log: its time text and the exact layout of a saved log.
#include "tasks/process_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "support/test_support.h"

namespace restorix {
namespace {

// A local time, with the zone pinned to UTC so that the text is known.
std::time_t Local(int month, int day, int hour, int minute, int second, int year = 2026) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return timegm(&t);
}

TEST(ProcessLogTest, TimeTextPutsTheYearAfterTheDayInEnglishFromAnyThread) {
  EXPECT_EQ(FormatLogTime(Local(12, 5, 2, 10, 43)), "Sat Dec 05 2026 02:10:43");
  EXPECT_EQ(FormatLogTime(Local(9, 30, 23, 59, 59, 2027)), "Thu Sep 30 2027 23:59:59");
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(FormatLogTime(Local(3, 1, 0, 0, 0)), "Sun Mar 01 2026 00:00:00");
  std::setlocale(LC_ALL, "C");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, when = Local(1 + t, 1 + t, t, t, t)] {
      const std::string expected = FormatLogTime(when);
      for (int i = 0; i < 2000; ++i)
        wrong += FormatLogTime(when) != expected;
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST(ProcessLogTest, SavedLogsOfNoneOneAndThreeRows) {
  test::TempDir dir;
  const auto saved = [&](const ProcessLog& log) {
    EXPECT_TRUE(log.Save(dir / "log.txt"));
    const auto bytes = test::ReadFile(dir / "log.txt");
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string dashes(68, '-'), mode = "Processing Mode: Deleted File Recovery";
  const std::string header =
      "------------------------Quillon Restorix v1.0.1  Process Log------------------------\n\n\n" +
      dashes;
  ProcessLog log;
  EXPECT_EQ(log.Text(), header);
  EXPECT_FALSE(log.Save(dir / "empty.txt")) << "an empty log cannot be saved";
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.txt"));

  log.Append({"Selected /dev/sdb1", mode, "", LOG_STARTED}, Local(12, 5, 2, 10, 43));
  const std::string one = header +
                          "\nSelected /dev/sdb1\n\t\tProcessing Mode: Deleted File Recovery\n\t\t"
                          "Sat Dec 05 2026 02:10:43\n" +
                          dashes;
  EXPECT_EQ(saved(log), one);
  // Two more rows the same way, and no line feed after the last.
  const std::string scan = "Processing directory structure for /dev/sdb1";
  log.Append({scan, mode, "", LOG_STARTED}, Local(12, 5, 2, 10, 44));
  log.Append({"Completed " + scan, mode, "", LOG_COMPLETED}, Local(12, 5, 2, 11, 3));
  EXPECT_EQ(saved(log), one + "\n" + scan + "\n\t\t" + mode + "\n\t\tSat Dec 05 2026 02:10:44\n" +
                            dashes + "\nCompleted " + scan + "\n\t\t" + mode +
                            "\n\t\tSat Dec 05 2026 02:11:03\n" + dashes);
  log.Clear();
  EXPECT_FALSE(log.Save(dir / "x.txt"));
  log.Append({"row", "", "", LOG_STARTED});
  EXPECT_FALSE(log.Save(dir / "missing/x.txt"));
}

// A log is put in place only once written whole: a save cut short (a
// file-size limit here) keeps the earlier log and leaves nothing else. What
// is no file in a folder, such as a device node, is written in place and
// stays what it is.
TEST(ProcessLogTest, ASaveCutShortKeepsTheEarlierLog) {
  ::signal(SIGXFSZ, SIG_IGN);
  test::TempDir dir;
  ProcessLog log;
  log.Append({std::string(200, 'r'), "description", "", LOG_STARTED});
  test::WriteFile(dir / "log.txt", {'o', 'l', 'd'});
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit limited{100, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &limited);
  const bool saved = log.Save(dir / "log.txt");
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(saved);
  EXPECT_EQ(test::ReadFile(dir / "log.txt"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  const auto null = dir / "null";
  if (::geteuid() != 0 || ::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "making a device node needs root";
  }
  EXPECT_TRUE(log.Save(null));
  EXPECT_TRUE(std::filesystem::is_character_file(null));
}

}  // namespace
}  // namespace restorix
