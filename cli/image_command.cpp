#include <unistd.h>

#include <cstring>
#include <iostream>

#include "commands.h"
#include "disk/imaging.h"
#include "progress.h"
#include "source.h"
#include "util/size_text.h"

namespace restorix::cli {

namespace {

std::string Reason(const ImageResult& result) {
  const std::string error = result.error ? std::string(": ") + std::strerror(result.error) : "";
  switch (result.stop) {
    case ImageResult::Stop::None:
      return "";
    case ImageResult::Stop::Cancelled:
      return "stopped by the user";
    case ImageResult::Stop::CannotCreate:
      return "the image file cannot be created" + error;
    case ImageResult::Stop::NotAFile:
      return "'OUT' must be a file, not a device or folder";
    case ImageResult::Stop::OntoSource:
      return "the image file would be written onto the source itself; choose a folder on another "
             "disk";
    case ImageResult::Stop::SourceLost:
      return "the source is no longer available" + error;
    case ImageResult::Stop::WriteFailed:
      return "writing the image failed" + error;
  }
  return "";
}

}  // namespace

void AddImageCommand(CLI::App& app, int& status) {
  struct Options {
    SourceOptions source;
    std::string output;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("image", "Copy a volume sector by sector into an image file (.qni)");
  AddSourceOptions(*command, options->source, "Volume to copy: block device or volume image");
  command->add_option("OUT", options->output, "Image file to create (replaced if it exists)")
      ->required();
  command->footer(
      "Example:\n  restorix image /dev/sdb1 /mnt/backup/sdb1.qni\n\n"
      "The image can then be scanned in place of the volume.");
  command->callback([options, &status] {
    Engine engine;
    if (!OpenSourceOrExplain(engine, SOURCE_LOGICAL_DRIVE, options->source)) {
      status = 1;
      return;
    }
    ProgressLine progress("Imaging", "sectors", engine.context.bytesPerSector());
    engine.SetEvents(&progress);
    engine.keepRunning = 1;
    StopOnInterrupt(engine.keepRunning);
    const ImageResult result = ImageVolume(engine, options->output);
    progress.Finish();
    if (result.status != 0) {
      std::cout << "Imaging of logical drive completed.\n"
                << options->output << ": " << result.sectorsWritten << " sectors ("
                << SizeText(result.sectorsWritten * engine.context.bytesPerSector()) << ")\n";
      status = 0;
      return;
    }
    // A run that did not complete leaves no partial image behind.
    if (result.created) ::unlink(options->output.c_str());
    std::cerr << "Imaging of logical drive aborted.\n";
    PrintError(Reason(result));
    status = 1;
  });
}

}  // namespace restorix::cli
