// End to end through a FUSE file whose reads fail (tests/support/
// failing_fuse.py): recover and image report the unreadable sectors, the
// image's map is one ddrescuelog reads, and a dropped FUSE source ends an
// image as lost, to be finished by --resume. Skipped, saying why, where FUSE
// cannot be mounted (no /dev/fuse in a container, no python3-fusepy).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/test_support.h"

namespace restorix {
namespace {

using Json = nlohmann::json;
using test::Quote;

// The failing file, mounted for as long as the object lives.
class FailingFile {
 public:
  // Mounts `backing` with the script's options; empty `why()` once mounted.
  FailingFile(const std::filesystem::path& backing, const std::filesystem::path& mountpoint,
              const std::string& options)
      : mountpoint_(mountpoint) {
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
      why_ = "/dev/fuse cannot be opened here (" + std::string(std::strerror(errno)) + ")";
      return;
    }
    ::close(fuse);
    if (test::Run("/usr/bin/python3 -c 'import fusepy'").exitCode != 0) {
      why_ = "python3-fusepy is not installed";
      return;
    }
    if (!test::HaveTool("fusermount") && !test::HaveTool("fusermount3")) {
      why_ = "no fusermount (package fuse3)";
      return;
    }
    std::filesystem::create_directories(mountpoint);
    const auto script = test::SourceFixture("../support/failing_fuse.py");
    const auto started =
        test::Run("/usr/bin/python3 " + Quote(script.string()) + " " + Quote(backing.string()) +
                  " " + Quote(mountpoint.string()) + " " + options + " >/dev/null 2>&1 & echo $!");
    pid_ = std::atoi(started.out.c_str());
    for (int i = 0; i < 100 && !std::filesystem::exists(file()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!std::filesystem::exists(file())) why_ = "the FUSE file did not mount";
  }
  ~FailingFile() {
    const std::string unmount = test::HaveTool("fusermount3") ? "fusermount3" : "fusermount";
    test::Run(unmount + " -u " + Quote(mountpoint_.string()) + " 2>/dev/null");
    if (pid_ <= 0) return;
    for (int i = 0; i < 100 && ::kill(pid_, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::kill(pid_, 0) == 0) ::kill(pid_, SIGKILL);
  }
  const std::string& why() const { return why_; }
  std::filesystem::path file() const { return mountpoint_ / "disk.img"; }

 private:
  std::filesystem::path mountpoint_;
  std::string why_;
  pid_t pid_ = -1;
};

test::CommandResult Restorix(const std::string& arguments) {
  return test::Run(Quote(test::RestorixBinary().string()) + " " + arguments);
}

// A file's text, empty when it is not there.
std::string Text(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines a file has, 0 when it is not there.
std::size_t Lines(const std::filesystem::path& file) {
  const std::string text = Text(file);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Runs restorix as a user does in a terminal, sends it Ctrl-C (SIGINT) once
// `ready` holds, and waits a bounded time for its end: `ended` is false
// when it had to be killed.
struct Interrupted {
  bool ended = false;
  int exitCode = -1;
  std::string err;
};
Interrupted InterruptWhen(const std::vector<std::string>& arguments,
                          const std::function<bool()>& ready, const std::filesystem::path& err) {
  const std::string binary = test::RestorixBinary().string();
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open("/dev/null", O_WRONLY);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::execv(binary.c_str(), argv.data());
    _exit(127);
  }
  const auto waitFor = [](const std::function<bool()>& condition, int seconds) {
    for (int i = 0; i < seconds * 50 && !condition(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
  };
  Interrupted result;
  int status = 0;
  bool done = false;
  const auto exited = [&] { return done || (done = ::waitpid(pid, &status, WNOHANG) == pid); };
  waitFor([&] { return exited() || ready(); }, 120);
  if (!done) {
    ::kill(pid, SIGINT);
    // Far longer than a stop may take; a run that ignores it takes minutes.
    waitFor(exited, 20);
  }
  if (!done) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  result.ended = done;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = Text(err);
  return result;
}

TEST(FailingFuseTest, UnreadableSectorsLostSourcesAndResume) {
  test::TempDir dir;
  const auto volume = dir / "volume.img";
  test::MakeVolume(volume, 40 << 20, "mkfs.fat -F 32 -s 1");
  // A deleted file of random bytes, and where its data lies.
  std::vector<std::uint8_t> content(256 * 1024);
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  test::WriteFile(dir / "photo.jpg", content);
  test::RunOk("mcopy -i " + Quote(volume.string()) + " " + Quote((dir / "photo.jpg").string()) +
              " ::photo.jpg && mdel -i " + Quote(volume.string()) + " ::photo.jpg");
  const auto bytes = test::ReadFile(volume);
  const auto at = std::search(bytes.begin(), bytes.end(), content.begin(), content.begin() + 4096);
  ASSERT_NE(at, bytes.end());
  const std::uint64_t fileSector = static_cast<std::uint64_t>(at - bytes.begin()) / 512;
  const std::uint64_t bad = fileSector + 10;

  {
    FailingFile fuse(volume, dir / "mnt", "--bad " + std::to_string(bad) + ":3");
    if (!fuse.why().empty()) GTEST_SKIP() << fuse.why();
    const std::string expected =
        "{\"count\":3,\"ranges\":[{\"count\":3,\"first\":" + std::to_string(bad) + "}]}";

    const auto recovered = Restorix("recover " + Quote(fuse.file().string()) + " --to " +
                                    Quote((dir / "out").string()) + " --json");
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_EQ(Json::parse(recovered.out)["unreadableSectors"].dump(), expected);
    EXPECT_NE(recovered.err.find("Unreadable sectors: 3"), std::string::npos) << recovered.err;
    auto withZeros = content;
    std::fill_n(withZeros.begin() + 10 * 512, 3 * 512, 0);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "out"))
      if (entry.is_regular_file()) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test::ReadFile(files[0]), withZeros);

    const auto image = Restorix("image " + Quote(fuse.file().string()) + " " +
                                Quote((dir / "a.qni").string()) + " --json");
    ASSERT_EQ(image.exitCode, 0) << image.err;
    EXPECT_EQ(Json::parse(image.out)["unreadableSectors"].dump(), expected);
    if (test::HaveTool("ddrescuelog")) {
      EXPECT_EQ(
          test::RunOk("ddrescuelog --list-blocks=- -b 512 " + Quote((dir / "a.qni.map").string())),
          std::to_string(bad) + "\n" + std::to_string(bad + 1) + "\n" + std::to_string(bad + 2) +
              "\n");
    }
    // The image's map tells its unreadable sectors from zeros.
    const auto fromImage = Restorix("recover " + Quote((dir / "a.qni").string()) + " --to " +
                                    Quote((dir / "again").string()) + " --json");
    ASSERT_EQ(fromImage.exitCode, 0) << fromImage.err;
    EXPECT_EQ(Json::parse(fromImage.out)["unreadableSectors"].dump(), expected);
  }
  {
    FailingFile fuse(volume, dir / "mnt", "--lose-at 50000");
    ASSERT_EQ(fuse.why(), "");
    const auto image = Restorix("image " + Quote(fuse.file().string()) + " " +
                                Quote((dir / "b.qni").string()) + " --json");
    EXPECT_EQ(image.exitCode, 1);
    EXPECT_EQ(Json::parse(image.out)["completed"], false);
    EXPECT_NE(image.err.find("the source is no longer available"), std::string::npos) << image.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "b.qni.map"));
    EXPECT_NE(image.err.find("Carry on with: restorix image --resume " + fuse.file().string() +
                             " " + (dir / "b.qni").string()),
              std::string::npos)
        << image.err;
  }
  const auto resumed = Restorix("image --resume " + Quote(volume.string()) + " " +
                                Quote((dir / "b.qni").string()) + " --json");
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(Json::parse(resumed.out)["unreadableSectors"]["count"], 0);
  auto image = test::ReadFile(dir / "b.qni");
  image.resize(bytes.size());
  EXPECT_EQ(image, bytes);
}

// The first Ctrl-C ends a task on a dying disk, whose every failed read
// takes a while, as aborted: a scan retrying a failed read sector by sector,
// and an image trimming and scraping its bad areas (which then stays with
// its map). Unstopped, each would take minutes.
TEST(FailingFuseTest, CtrlCEndsSlowRetriesOnADyingDisk) {
  test::TempDir dir;
  const auto volume = dir / "volume.img";
  test::MakeVolume(volume, 40 << 20, "mkfs.fat -F 32 -s 1");
  FailingFile fuse(volume, dir / "mnt",
                   "--bad 20160:2000 --slow 0.05 --count " + Quote((dir / "count").string()));
  if (!fuse.why().empty()) GTEST_SKIP() << fuse.why();
  const std::string source = fuse.file().string();
  const std::string image = (dir / "out.qni").string();
  struct Case {
    std::vector<std::string> arguments;
    std::size_t failedReads;  // well into the retries
    std::string said;
  };
  const Case cases[] = {
      {{"scan", source, "--mode", "advanced"}, 20, "the scan was stopped"},
      {{"image", source, image}, 80, "stopped by the user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    std::filesystem::remove(dir / "count");
    const Interrupted run = InterruptWhen(
        c.arguments, [&] { return Lines(dir / "count") >= c.failedReads; }, dir / "err");
    ASSERT_TRUE(run.ended) << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "out.qni.map"));
}

// A source that would block open() or reads for ever, or that is no disk,
// is refused unopened: a FIFO without a writer, character devices.
TEST(InterruptTest, FifosAndCharacterDevicesAreRefusedAsSources) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& source : {(dir / "fifo").string(), std::string("/dev/zero")}) {
    for (const std::string command : {"scan", "image"}) {
      SCOPED_TRACE(command + " " + source);
      const auto run = test::Run("timeout 20 " + Quote(test::RestorixBinary().string()) + " " +
                                 command + " " + Quote(source) +
                                 (command == "image" ? " " + Quote((dir / "o.qni").string()) : ""));
      EXPECT_EQ(run.exitCode, 1) << run.err;
      EXPECT_NE(run.err.find("is neither a block device nor an image file"), std::string::npos)
          << run.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "o.qni"));
}

// find and recover on a scan file whose reads never end (a FIFO whose writer
// stalls after the header) end at the first Ctrl-C, as stopped.
TEST(InterruptTest, CtrlCEndsLoadingAScanFileThatNeverEnds) {
  test::TempDir dir;
  const auto fifo = dir / "scan.qns";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> commands = {
      {"find", "--scan", fifo.string(), "*"},
      {"recover", "--scan", fifo.string(), "--to", (dir / "out").string()},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::uint8_t header[] = {'T', 'A', 'F', '-', 0xAA, 0x55, 0, 0, 9, 0};
    ASSERT_EQ(::write(writer, header, sizeof header), static_cast<ssize_t>(sizeof header));
    const auto pending = [&] {
      int bytes = 0;
      ::ioctl(writer, FIONREAD, &bytes);
      return bytes;
    };
    const Interrupted run = InterruptWhen(
        command, [&] { return pending() == 0; }, dir / "err");
    ::close(writer);
    ASSERT_TRUE(run.ended) << run.err;
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_NE(run.err.find("stopped by the user"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

}  // namespace
}  // namespace restorix
