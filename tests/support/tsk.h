// The Sleuth Kit as the independent reference: what it says about the
// deleted files of a volume and the bytes it reads for them. The answers come
// from tests/fixtures/record-tsk-answers.py, either run now on an image or as
// it recorded them in tests/fixtures/tsk-answers/ (NAME.tsv).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace restorix::test {

struct TskAttribute {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::string name;  // "N/A" for the unnamed one
  std::uint64_t size = 0;
};

// What `istat` says of one MFT record.
struct TskRecord {
  bool directory = false;
  std::vector<std::string> names;  // every $FILE_NAME, in record order
  std::uint64_t parent = 0;        // of the first $FILE_NAME
  std::vector<TskAttribute> attributes;
  // "type-id" of each attribute that the attribute list names.
  std::vector<std::string> listed;
  bool HasAttributeList() const;
  // The size of the unnamed $DATA attribute (0 when there is none).
  std::uint64_t UnnamedDataSize() const;
};

struct NtfsAnswers {
  std::string image;                           // SHA-256 of the image recorded answers are for
  std::vector<std::uint64_t> unallocated;      // the records `ils` lists
  std::map<std::uint64_t, TskRecord> records;  // `istat` of each
  // SHA-256 of what `icat` reads, by "record-128-id", for every non-empty
  // $DATA attribute of a record that is not a folder.
  std::map<std::string, std::string> icat;
  std::string Icat(const std::string& address) const;  // "-" when not there
};

// A deleted regular file of `fls -r -d -p`, with what istat and icat say.
struct TskFile {
  std::uint64_t address = 0, size = 0;  // of the short entry
  std::string path, shortName;          // the path from the root, with long names
  std::vector<std::uint64_t> sectors;   // what icat reads, in order
  std::string icat;                     // SHA-256 of what icat reads
  std::string icatHead;                 // ... of its first cluster (or less)
};

struct FatAnswers {
  std::string image;             // SHA-256 of the image recorded answers are for
  std::vector<TskFile> deleted;  // each directory entry once
};

// TSK asked now about the NTFS volume at sector `offset` of `image`.
NtfsAnswers AskTskNtfs(const std::filesystem::path& image, std::uint64_t offset);
// TSK asked now about the FAT volume `image`.
FatAnswers AskTskFat(const std::filesystem::path& image);
// The answers recorded in tests/fixtures/tsk-answers/NAME.tsv.
NtfsAnswers RecordedNtfsAnswers(const std::string& name);
FatAnswers RecordedFatAnswers(const std::string& name);

std::string Sha256OfFile(const std::filesystem::path& file);
std::string Sha256Of(const std::vector<std::uint8_t>& bytes);

}  // namespace restorix::test
