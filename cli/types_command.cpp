#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "scan_options.h"
#include "tree_output.h"

namespace restorix::cli {

void AddTypesCommand(CLI::App& app, int& status) {
  auto json = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand("types", "List the file types the search knows");
  command->add_flag("--json", *json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix types\n  restorix scan disk.img --mode format --types jpg,cr2");
  command->callback([json, &status] {
    const auto table = LoadTypes();
    if (!table) {
      status = 1;
      return;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SignatureRecord& r : *table) {
      std::string signature;
      char hex[3];
      for (const std::uint8_t b : r.signature()) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        signature += hex;
      }
      list.push_back({{"name", std::string(r.name())},
                      {"extension", std::string(r.ext())},
                      {"category", std::string(r.cat())},
                      {"typeCode", r.typeCode},
                      {"signature", signature},
                      {"signatureOffset", r.sigOffset}});
    }
    if (*json) {
      PrintJson(nlohmann::ordered_json{{"types", list}});
    } else {
      std::printf("%-44s %-9s %-12s %s\n", "Name", "Extension", "Category", "Signature");
      for (const auto& t : list) {
        std::printf(
            "%-44s %-9s %-12s %s @%u\n", t["name"].get<std::string>().c_str(),
            t["extension"].get<std::string>().c_str(), t["category"].get<std::string>().c_str(),
            t["signature"].get<std::string>().c_str(), t["signatureOffset"].get<unsigned>());
      }
    }
    status = 0;
  });
}

}  // namespace restorix::cli
