// The table of known types, every one selected, read once per fuzz target.
#pragma once

#include <fstream>
#include <vector>

#include "signature/signature_file.h"

namespace restorix::test {

inline const std::vector<SignatureRecord>& FuzzSignatureTable() {
  static const std::vector<SignatureRecord> table = [] {
    std::ifstream tsv(RESTORIX_SIGNATURE_TABLE);
    return ParseSignatureTable(tsv);
  }();
  return table;
}

}  // namespace restorix::test
