// End to end through a FUSE file whose reads fail (tests/support/
// failing_fuse.py): recover and image report the unreadable sectors, the
// image's map is one ddrescuelog reads, and a dropped FUSE source ends an
// image as lost, to be finished by --resume. Skipped, saying why, where FUSE
// cannot be mounted (no /dev/fuse in a container, no python3-fusepy).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
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
  }
  const auto resumed = Restorix("image --resume " + Quote(volume.string()) + " " +
                                Quote((dir / "b.qni").string()) + " --json");
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(Json::parse(resumed.out)["unreadableSectors"]["count"], 0);
  auto image = test::ReadFile(dir / "b.qni");
  image.resize(bytes.size());
  EXPECT_EQ(image, bytes);
}

}  // namespace
}  // namespace restorix
