// Who a disk is: the bus it is attached by, its serial number and its model,
// read from sysfs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace restorix::drives {

// "IDE" (ATA), "USB", "1394", "NVMe", "MMC", "VirtIO", "SCSI" or "Loop", from
// the device folders above the disk (DeviceAncestors); empty when none fits.
std::string InterfaceType(const std::string& name,
                          const std::vector<std::filesystem::path>& ancestors);

// The serial as the kernel reports it, decoded when it is in the swapped
// hexadecimal form of ATA words; "N/A" when the device reports none.
std::string SerialNumber(const std::filesystem::path& diskDir,
                         const std::vector<std::filesystem::path>& ancestors);

// Maker and model; for a loop device, its backing file.
std::string Model(const std::string& name, const std::filesystem::path& diskDir);

}  // namespace restorix::drives
