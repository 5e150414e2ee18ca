// The Sleuth Kit as the independent reference: what it says about the
// deleted records of an image, and the bytes it reads for them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace restorix::test {

// A volume as TSK addresses it: an image file and the sector where the volume
// starts in it.
struct TskVolume {
  std::filesystem::path image;
  std::uint64_t offset = 0;
  std::string Args() const;  // "-o OFFSET 'IMAGE'"
};

struct TskAttribute {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::string name;  // "N/A" for the unnamed one
  std::uint64_t size = 0;
};

struct TskRecord {
  bool directory = false;
  std::vector<std::string> names;  // every $FILE_NAME, in record order
  std::uint64_t parent = 0;        // of the first $FILE_NAME
  std::vector<TskAttribute> attributes;
  bool hasAttributeList = false;
  // "type-id" of each attribute that the attribute list names.
  std::vector<std::string> listed;
  // The size of the unnamed $DATA attribute (0 when there is none).
  std::uint64_t UnnamedDataSize() const;
};

// The unallocated MFT records that `ils` reports.
std::vector<std::uint64_t> UnallocatedRecords(const TskVolume& volume);
// `istat` of one record.
TskRecord Istat(const TskVolume& volume, std::uint64_t record);
// SHA-256 of what `icat` reads for "record" or "record-type-id".
std::string IcatSha256(const TskVolume& volume, const std::string& address);
std::string Sha256OfFile(const std::filesystem::path& file);

}  // namespace restorix::test
