#include "drives/disk_identity.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "drives/drive_lists.h"
#include "drives/sysfs.h"

namespace restorix {
namespace drives {

namespace fs = std::filesystem;

namespace {

// SCSI inquiry page 0x80: a 4-byte header whose last byte is the length.
std::string SerialFromVpdPage(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (page.size() < 4) return {};
  const std::size_t length = static_cast<unsigned char>(page[3]);
  return Trim(std::string_view(page).substr(4, length));
}

// The serial as the kernel reports it: virtio disks in the disk's own folder,
// NVMe and MMC in the device, SCSI and ATA in inquiry page 0x80, USB disks in
// the USB device further up.
std::string ReportedSerial(const fs::path& diskDir, const std::vector<fs::path>& ancestors) {
  for (const fs::path& file : {diskDir / "serial", diskDir / "device" / "serial"}) {
    std::string serial = ReadAttribute(file);
    if (!serial.empty()) return serial;
  }
  std::string serial = SerialFromVpdPage(diskDir / "device" / "vpd_pg80");
  if (!serial.empty()) return serial;
  for (const fs::path& dir : ancestors) {
    if (SubsystemOf(dir) != "usb") continue;
    serial = ReadAttribute(dir / "serial");
    if (!serial.empty()) return serial;
  }
  return {};
}

}  // namespace

std::string InterfaceType(const std::string& name, const std::vector<fs::path>& ancestors) {
  if (name.starts_with("loop")) return "Loop";
  bool usb = false, firewire = false, ata = false, nvme = false, mmc = false, virtio = false,
       scsi = false;
  for (const fs::path& dir : ancestors) {
    const std::string subsystem = SubsystemOf(dir);
    const std::string folder = dir.filename().string();
    usb |= subsystem == "usb";
    firewire |= subsystem == "firewire" || subsystem == "ieee1394";
    ata |= folder.size() > 3 && folder.starts_with("ata") &&
           folder.find_first_not_of("0123456789", 3) == std::string::npos;
    nvme |= subsystem == "nvme";
    mmc |= subsystem == "mmc";
    virtio |= subsystem == "virtio";
    scsi |= subsystem == "scsi";
  }
  // A USB or FireWire disk is also a SCSI device; the outermost bus is the one
  // the user plugs in. ATA keeps the name Windows gives it, which the drive
  // page uses to pick the internal-disk icon.
  if (usb) return "USB";
  if (firewire) return "1394";
  if (ata) return "IDE";
  if (nvme) return "NVMe";
  if (mmc) return "MMC";
  if (virtio) return "VirtIO";
  if (scsi) return "SCSI";
  return {};
}

std::string SerialNumber(const fs::path& diskDir, const std::vector<fs::path>& ancestors) {
  const std::string serial = ReportedSerial(diskDir, ancestors);
  if (serial.empty()) return "N/A";
  return IsSwappedHexSerial(serial) ? DecodeSerialNumber(serial) : serial;
}

std::string Model(const std::string& name, const fs::path& diskDir) {
  if (name.starts_with("loop")) return ReadAttribute(diskDir / "loop" / "backing_file");
  const std::string model = ReadAttribute(diskDir / "device" / "model");
  // SCSI and USB models leave the maker to the vendor field; libata puts the
  // whole name in the model and "ATA" in the vendor.
  if (SubsystemOf(diskDir / "device") == "scsi") {
    const std::string vendor = ReadAttribute(diskDir / "device" / "vendor");
    if (!vendor.empty() && vendor != "ATA" && !model.starts_with(vendor))
      return model.empty() ? vendor : vendor + " " + model;
  }
  return model;
}

}  // namespace drives

std::string NormaliseMediaType(std::string_view mediaType) {
  std::string text(mediaType);
  std::replace(text.begin(), text.end(), '\t', ' ');
  if (!text.starts_with("F") && text.size() > 15) text.resize(15);
  return text;
}

std::string DecodeSerialNumber(std::string_view swappedHex) {
  std::string text(swappedHex);
  for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
    std::swap(text[i], text[i + 2]);
    std::swap(text[i + 1], text[i + 3]);
  }
  const char* const kPadding = "20&._";
  const std::size_t first = text.find_first_not_of(kPadding);
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(kPadding) - first + 1);

  const auto digitValue = [](char c) -> unsigned {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'z') return static_cast<unsigned>(lower - 'a' + 10);
    return 0;
  };
  std::string serial;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const unsigned high = digitValue(text[i]);
    const unsigned low = i + 1 < text.size() ? digitValue(text[i + 1]) : 0;
    const char byte = static_cast<char>((high * 16 + (low & 0x0F)) & 0xFF);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z')) serial += byte;
  }
  return serial;
}

bool IsSwappedHexSerial(std::string_view serial) {
  if (serial.size() < 16 || serial.size() % 4 != 0) return false;
  if (!std::all_of(serial.begin(), serial.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
    return false;
  const auto nibble = [](char c) {
    return static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                     ? c - '0'
                                     : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  };
  for (std::size_t word = 0; word < serial.size(); word += 4) {
    // The second byte of each word comes first once the word is swapped.
    for (const std::size_t at : {word + 2, word}) {
      const unsigned byte = nibble(serial[at]) * 16 + nibble(serial[at + 1]);
      if (byte != 0 && (byte < 0x20 || byte > 0x7E)) return false;
    }
  }
  return !DecodeSerialNumber(serial).empty();
}

}  // namespace restorix
