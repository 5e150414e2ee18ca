#include "drives/sysfs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <tuple>

namespace restorix::drives {

namespace fs = std::filesystem;

namespace {

// "loop2" before "loop10": runs of digits compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t endA = i, endB = j;
      while (endA < a.size() && isDigit(a[endA]))
        ++endA;
      while (endB < b.size() && isDigit(b[endB]))
        ++endB;
      const std::uint64_t numA = std::stoull(a.substr(i, std::min<std::size_t>(endA - i, 18)));
      const std::uint64_t numB = std::stoull(b.substr(j, std::min<std::size_t>(endB - j, 18)));
      if (numA != numB) return numA < numB;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::string Trim(std::string_view text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0';
  };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

std::string ReadAttribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  return Trim(text.str());
}

std::optional<std::uint64_t> ReadNumber(const fs::path& path) {
  const std::string text = ReadAttribute(path);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

bool DiskOrder::operator<(const DiskOrder& other) const {
  if (loop != other.loop) return other.loop;
  if (numbered != other.numbered) return numbered;
  if (numbered && (major != other.major || minor != other.minor))
    return std::tie(major, minor) < std::tie(other.major, other.minor);
  return NaturalLess(name, other.name);
}

DiskOrder OrderOf(const std::string& name, const std::string& deviceNumber) {
  DiskOrder order;
  order.name = name;
  order.loop = name.starts_with("loop");
  order.numbered = std::sscanf(deviceNumber.c_str(), "%u:%u", &order.major, &order.minor) == 2;
  return order;
}

bool IsPhysicalDisk(const std::string& name, const fs::path& dir) {
  for (const char* prefix : {"ram", "zram", "dm-", "md", "sr", "fd"}) {
    if (name.starts_with(prefix)) return false;
  }
  if (name.starts_with("mmcblk") &&
      (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
    return false;
  if (ReadAttribute(dir / "hidden") == "1") return false;
  if (name.starts_with("loop")) return !ReadAttribute(dir / "loop" / "backing_file").empty();
  return true;
}

std::vector<fs::path> DeviceAncestors(const fs::path& diskDir, const fs::path& sysRoot) {
  std::vector<fs::path> chain;
  std::error_code ec;
  fs::path at = fs::canonical(diskDir / "device", ec);
  if (ec) return chain;
  const fs::path top = fs::weakly_canonical(sysRoot, ec);
  while (!at.empty() && at != top && at != at.root_path()) {
    // Never walk out of the sysfs tree being read.
    const auto [mismatch, rest] = std::mismatch(top.begin(), top.end(), at.begin(), at.end());
    if (mismatch != top.end()) break;
    chain.push_back(at);
    at = at.parent_path();
  }
  return chain;
}

std::string SubsystemOf(const fs::path& dir) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(dir / "subsystem", ec);
  return ec ? std::string() : target.filename().string();
}

std::vector<SysPartition> ListSysPartitions(const fs::path& diskDir) {
  std::vector<SysPartition> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(diskDir, ec)) {
    const fs::path dir = entry.path();
    const std::string number = ReadAttribute(dir / "partition");
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) continue;
    SysPartition partition;
    partition.number = std::stoi(number);
    partition.name = dir.filename().string();
    partition.bytes = ReadNumber(dir / "size").value_or(0) * 512;
    partition.deviceNumber = ReadAttribute(dir / "dev");
    found.push_back(std::move(partition));
  }
  std::sort(found.begin(), found.end(),
            [](const SysPartition& a, const SysPartition& b) { return a.number < b.number; });
  return found;
}

}  // namespace restorix::drives
