// The table of known file types: read from the Signature file beside the
// program, written by the build from data/signatures.tsv.
#pragma once

#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "signature/signature_record.h"

namespace restorix {

// Reads the records of an open Signature file up to and including the first
// whose nextRecord is 0. A file that ends before that record, or cannot be
// read, gives an empty list.
std::vector<SignatureRecord> LoadSignatureFile(int fd);

// Reads the Signature file in `folder` (the program's own by default);
// nullopt when it cannot be opened.
std::optional<std::vector<SignatureRecord>> LoadSignatureFile(
    const std::filesystem::path& folder = ProgramFolder());

// The human-readable table: one type per line, tab-separated: name,
// extension, category, signature offset, signature bytes in hex, type code,
// stored detected size, skip length, skip valid, fallback size. Lines
// starting with '#' and empty lines are ignored. Throws std::runtime_error
// with the line number for a malformed line.
std::vector<SignatureRecord> ParseSignatureTable(std::istream& table);

// The Signature file's bytes for a list of records (nextRecord set on every
// record but the last).
std::vector<std::uint8_t> EncodeSignatureFile(std::vector<SignatureRecord> records);

}  // namespace restorix
