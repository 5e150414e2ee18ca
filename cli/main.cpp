#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>

#include "commands.h"
#include "progress.h"

int main(int argc, char** argv) {
  // A write past a file-size limit fails with EFBIG and is reported like any
  // other failed write, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  restorix::cli::CatchInterrupts();
  CLI::App app{
      "Restorix gets back files deleted from FAT16, FAT32 and NTFS volumes, files left after a "
      "format, and files of known types anywhere on a disk. It only ever reads its source."};
  app.name("restorix");
  app.set_version_flag("--version", std::string("restorix ") + RESTORIX_VERSION);
  app.require_subcommand(1);
  // `restorix help` does what `restorix --help` does.
  bool help = false;
  app.add_subcommand("help", "Print this help")->callback([&help] { help = true; });
  int status = 0;
  restorix::cli::AddDrivesCommand(app, status);
  restorix::cli::AddInfoCommand(app, status);
  restorix::cli::AddPartitionsCommand(app, status);
  restorix::cli::AddScanCommand(app, status);
  restorix::cli::AddRecoverCommand(app, status);
  restorix::cli::AddFindCommand(app, status);
  restorix::cli::AddImageCommand(app, status);
  restorix::cli::AddTypesCommand(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return 2;
  }
  if (help)
    std::cout << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
  return status;
}
