// The process log: its time text and the exact layout of a saved log.
#include "tasks/process_log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <thread>

#include "support/test_support.h"

namespace restorix {
namespace {

// Times in the tests are local times; pin the zone so the text is known.
class ProcessLogTest : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return timegm(&t);
}

TEST_F(ProcessLogTest, TimeTextPutsTheYearAfterTheDay) {
  EXPECT_EQ(FormatLogTime(Utc(2026, 12, 5, 2, 10, 43)), "Sat Dec 05 2026 02:10:43");
  EXPECT_EQ(FormatLogTime(Utc(2027, 9, 30, 23, 59, 59)), "Thu Sep 30 2027 23:59:59");
  // English names whatever the locale says.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(FormatLogTime(Utc(2026, 3, 1, 0, 0, 0)), "Sun Mar 01 2026 00:00:00");
  std::setlocale(LC_ALL, "C");
}

TEST_F(ProcessLogTest, FormattingFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::time_t when = Utc(2026, 1 + t, 1 + t, t, t, t);
      const std::string expected = FormatLogTime(when);
      for (int i = 0; i < 2000; ++i) wrong += FormatLogTime(when) != expected;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

std::string Header() {
  return "------------------------Quillon Restorix v1.0.1  Process Log------------------------\n\n\n" +
         std::string(68, '-');
}

TEST_F(ProcessLogTest, SavedLogsOfNoneOneAndThreeRows) {
  test::TempDir dir;
  ProcessLog log;
  EXPECT_FALSE(log.Save(dir / "empty.txt")) << "an empty log cannot be saved";
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.txt"));
  EXPECT_EQ(log.Text(), Header());

  log.Append({"Selected /dev/sdb1", "Processing Mode: Deleted File Recovery", "", LOG_STARTED},
             Utc(2026, 12, 5, 2, 10, 43));
  ASSERT_TRUE(log.Save(dir / "one.txt"));
  const std::string one = Header() +
                          "\nSelected /dev/sdb1\n\t\tProcessing Mode: Deleted File Recovery\n\t\tSat Dec 05 2026 "
                          "02:10:43\n" +
                          std::string(68, '-');
  const auto bytes = test::ReadFile(dir / "one.txt");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), one);

  log.Append({"Processing directory structure for /dev/sdb1", "Processing Mode: Deleted File Recovery", "", LOG_STARTED},
             Utc(2026, 12, 5, 2, 10, 44));
  log.Append({"Completed Processing directory structure for /dev/sdb1", "Processing Mode: Deleted File Recovery",
              "", LOG_COMPLETED},
             Utc(2026, 12, 5, 2, 11, 3));
  ASSERT_TRUE(log.Save(dir / "three.txt"));
  const auto three = test::ReadFile(dir / "three.txt");
  const std::string text(three.begin(), three.end());
  EXPECT_EQ(text,
            one + "\nProcessing directory structure for /dev/sdb1\n\t\tProcessing Mode: Deleted File "
                  "Recovery\n\t\tSat Dec 05 2026 02:10:44\n" +
                std::string(68, '-') +
                "\nCompleted Processing directory structure for /dev/sdb1\n\t\tProcessing Mode: Deleted File "
                "Recovery\n\t\tSat Dec 05 2026 02:11:03\n" +
                std::string(68, '-'));
  EXPECT_EQ(text.back(), '-') << "no final line feed";
  EXPECT_EQ(text.find('\r'), std::string::npos);

  log.Clear();
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(log.Save(dir / "x.txt"));
  EXPECT_FALSE(ProcessLog{}.Save(dir / "missing/x.txt"));
}

}  // namespace
}  // namespace restorix
