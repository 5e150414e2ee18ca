#include "support/tsk.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace restorix::test {
namespace {

std::string Recorder() {
  return Quote(SourceFixture("record-tsk-answers.py").string());
}

std::string Recorded(const std::string& name) {
  const auto path = SourceFixture("tsk-answers/" + name + ".tsv");
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "no recorded answers " << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

// The tab-separated fields of each line but comments; the last field of a
// line takes the rest of it, tabs and all.
std::vector<std::vector<std::string>> Rows(const std::string& text, std::size_t maxFields) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (auto tab = line.find('\t'); tab != std::string::npos && fields.size() + 1 < maxFields;
         tab = line.find('\t', at)) {
      fields.push_back(line.substr(at, tab - at));
      at = tab + 1;
    }
    fields.push_back(line.substr(at));
    rows.push_back(std::move(fields));
  }
  return rows;
}

// The field, or "" where the line is short (a broken answer fails the
// comparison, not the test program).
const std::string& Field(const std::vector<std::string>& row, std::size_t i) {
  static const std::string none;
  return i < row.size() ? row[i] : none;
}

std::uint64_t Number(const std::string& text) {
  return text.empty() ? 0 : std::stoull(text);
}

NtfsAnswers ParseNtfs(const std::string& text) {
  NtfsAnswers answers;
  TskRecord* record = nullptr;
  for (const auto& row : Rows(text, 5)) {
    const std::string& kind = row[0];
    if (kind == "image") {
      answers.image = Field(row, 1);
    } else if (kind == "record") {
      const std::uint64_t number = Number(Field(row, 1));
      answers.unallocated.push_back(number);
      record = &answers.records[number];
      record->directory = Field(row, 2) == "1";
      record->parent = Number(Field(row, 3));
    } else if (kind == "icat") {
      answers.icat[Field(row, 1)] = Field(row, 2);
    } else if (record == nullptr) {
      continue;  // what follows belongs to a record
    } else if (kind == "name") {
      record->names.push_back(Field(row, 1));
    } else if (kind == "attribute") {
      record->attributes.push_back({static_cast<std::uint32_t>(Number(Field(row, 1))),
                                    static_cast<std::uint32_t>(Number(Field(row, 2))),
                                    Field(row, 4), Number(Field(row, 3))});
    } else if (kind == "listed") {
      record->listed.push_back(Field(row, 1));
    }
  }
  return answers;
}

// "a-b,c" -> a, a+1, ..., b, c
std::vector<std::uint64_t> Sectors(const std::string& runs) {
  std::vector<std::uint64_t> sectors;
  if (runs == "-") return sectors;
  std::istringstream in(runs);
  for (std::string run; std::getline(in, run, ',');) {
    const auto dash = run.find('-');
    const std::uint64_t first = Number(run.substr(0, dash));
    const std::uint64_t last = dash == std::string::npos ? first : Number(run.substr(dash + 1));
    for (std::uint64_t s = first; s <= last; ++s)
      sectors.push_back(s);
  }
  return sectors;
}

FatAnswers ParseFat(const std::string& text) {
  FatAnswers answers;
  for (const auto& row : Rows(text, 8)) {
    if (row[0] == "image") answers.image = Field(row, 1);
    if (row[0] != "file") continue;
    answers.deleted.push_back({Number(Field(row, 1)), Number(Field(row, 2)), Field(row, 7),
                               Field(row, 6), Sectors(Field(row, 3)), Field(row, 4),
                               Field(row, 5)});
  }
  return answers;
}

}  // namespace

bool TskRecord::HasAttributeList() const {
  for (const TskAttribute& a : attributes) {
    if (a.type == 32) return true;
  }
  return false;
}

std::uint64_t TskRecord::UnnamedDataSize() const {
  for (const TskAttribute& a : attributes) {
    if (a.type == 128 && a.name == "N/A") return a.size;
  }
  return 0;
}

std::string NtfsAnswers::Icat(const std::string& address) const {
  const auto found = icat.find(address);
  return found == icat.end() ? "-" : found->second;
}

NtfsAnswers AskTskNtfs(const std::filesystem::path& image, std::uint64_t offset) {
  return ParseNtfs(
      RunOk(Recorder() + " ntfs " + Quote(image.string()) + " " + std::to_string(offset)));
}

FatAnswers AskTskFat(const std::filesystem::path& image) {
  return ParseFat(RunOk(Recorder() + " fat " + Quote(image.string())));
}

NtfsAnswers RecordedNtfsAnswers(const std::string& name) {
  return ParseNtfs(Recorded(name));
}

FatAnswers RecordedFatAnswers(const std::string& name) {
  return ParseFat(Recorded(name));
}

std::string Sha256OfFile(const std::filesystem::path& file) {
  EXPECT_TRUE(std::filesystem::is_regular_file(file)) << "cannot read " << file;
  return Sha256Of(ReadFile(file));
}

std::string Sha256Of(const std::vector<std::uint8_t>& bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned i = 0; i < size; ++i) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

}  // namespace restorix::test
