// The subcommands of `restorix`. Each adds itself to the application and
// stores its exit status when it runs: 0 completed, 1 aborted or failed.
#pragma once

#include <CLI/CLI.hpp>

namespace restorix::cli {

void AddDrivesCommand(CLI::App& app, int& status);
void AddInfoCommand(CLI::App& app, int& status);
void AddPartitionsCommand(CLI::App& app, int& status);
void AddImageCommand(CLI::App& app, int& status);
void AddScanCommand(CLI::App& app, int& status);
void AddRecoverCommand(CLI::App& app, int& status);
void AddTypesCommand(CLI::App& app, int& status);
void AddFindCommand(CLI::App& app, int& status);

}  // namespace restorix::cli
