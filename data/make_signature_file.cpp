// Turns the human-readable table of known file types into the binary
// Signature file the programs read. Usage: make_signature_file TABLE OUT
#include <fstream>
#include <iostream>

#include "signature/signature_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_signature_file TABLE.tsv OUT\n";
    return 2;
  }
  std::ifstream table(argv[1]);
  if (!table) {
    std::cerr << "make_signature_file: cannot read " << argv[1] << "\n";
    return 1;
  }
  try {
    const auto bytes = restorix::EncodeSignatureFile(restorix::ParseSignatureTable(table));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << argv[1] << ": " << error.what() << "\n";
    return 1;
  }
}
