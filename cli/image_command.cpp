#include <cstring>
#include <iostream>

#include "commands.h"
#include "disk/imaging.h"
#include "disk/rescue_map.h"
#include "session.h"
#include "source.h"
#include "tasks/image_space.h"
#include "tree_output.h"
#include "util/size_text.h"
#include "util/text.h"

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
      return result.ontoSource + "; choose a folder on another disk";
    case ImageResult::Stop::SourceLost:
      return "the source is no longer available" + error;
    case ImageResult::Stop::WriteFailed:
      return "writing the image failed" + error;
    case ImageResult::Stop::NoMap:
      return "nothing to resume: 'OUT' and its map 'OUT.map' must both be there, from an image of "
             "this source";
  }
  return "";
}

// A word as a POSIX shell reads it back: as it is when that is safe, else
// in single quotes.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_-+=.,/:@%") == std::string::npos;
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The command that carries on this image: the same source, volume and image.
std::string ResumeCommand(const SourceOptions& source, const std::filesystem::path& image) {
  std::string command = "restorix image --resume";
  if (source.partition != 0) command += " --partition " + std::to_string(source.partition);
  if (source.offset != 0) command += " --offset " + std::to_string(source.offset);
  return command + " " + ShellWord(std::filesystem::absolute(source.path).string()) + " " +
         ShellWord(image.string());
}

}  // namespace

void AddImageCommand(CLI::App& app, int& status) {
  struct Options {
    SourceOptions source;
    std::string output;
    std::string log;
    bool force = false;
    bool resume = false;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("image", "Copy a volume sector by sector into an image file (.qni)");
  AddSourceOptions(*command, options->source, "Volume to copy: block device or volume image");
  command->add_option("OUT", options->output, "Image file to create")->required();
  command->add_flag("--force", options->force, "Replace OUT if it exists");
  command
      ->add_flag("--resume", options->resume,
                 "Carry on an image that was stopped, from the map OUT.map beside it")
      ->excludes("--force");
  command->add_flag("--json", options->json, "Print one JSON document");
  AddLogOption(*command, options->log);
  command->footer(
      "Example:\n  restorix image /dev/sdb1 /mnt/backup/sdb1.qni\n"
      "  restorix image --resume /dev/sdb1 /mnt/backup/sdb1.qni\n\n"
      "A failing disk is copied the way GNU ddrescue copies one: what reads easily first, then "
      "the areas around errors, sector by sector. OUT.map, beside the image, is a ddrescue map of "
      "what was copied, what is bad and what is untried; a stopped run leaves both for --resume.\n"
      "The image can then be scanned in place of the volume: restorix scan /mnt/backup/sdb1.qni");
  command->callback([options, &status] {
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(options->output, ec).type();
    if (!options->force && !options->resume && type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::none) {
      PrintError("'" + options->output + "' exists; give --force to replace it");
      status = 1;
      return;
    }
    Session session;
    session.logFile = options->log;
    session.jsonOutput = options->json;
    session.volume = OpenSourceOrExplain(SourceKind::LogicalDrive, options->source);
    if (!session.volume) {
      status = 1;
      return;
    }
    if (!session.OutputsClear({options->output})) {
      status = 1;
      return;
    }
    const Volume& volume = *session.volume;
    const std::uint64_t sourceBytes =
        volume.context().totalSectors() * volume.context().bytesPerSector();
    const ImageSpace space = CheckImageSpace(options->output, sourceBytes);
    if (!options->resume && !space.enough) {
      PrintMessage(kInsufficientSpace);
      PrintError("the image needs " + SizeText(sourceBytes) + ", " +
                 SizeText(space.available.value_or(0)) + " are free where it would go");
      status = 1;
      return;
    }
    const std::string drive = DriveName(volume.sourceName(), options->source);
    const auto out = std::filesystem::absolute(options->output);
    session.entry = {"Imaging Disk :" + drive, "To Location " + out.string(), "", LOG_STARTED};
    session.Log();
    const TaskReport report =
        session.Run("Imaging", "sectors", volume.context().bytesPerSector(), [&](TaskSink& sink) {
          return ImagingTask(volume, out, session.stop, sink, session.entry,
                             options->resume ? ImagingRun::Resume : ImagingRun::Resumable);
        });
    const ImageResult& image = report.image;
    if (options->json) {
      nlohmann::ordered_json document;
      document["image"] = out.string();
      document["map"] = RescueMapPath(out).string();
      document["sectors"] = image.sectorsWritten;
      document["sectorsRescued"] = image.sectorsRescued;
      document["unreadableSectors"] = UnreadableJson(image.unreadable);
      document["completed"] = report.completed;
      if (!report.completed) document["error"] = Reason(image);
      PrintJson(document);
    } else if (report.completed) {
      std::cout << out.string() << ": " << image.sectorsWritten << " sectors ("
                << SizeText(image.sectorsWritten * volume.context().bytesPerSector()) << ")\n";
    }
    if (!report.completed) PrintError(Reason(image));
    PrintUnreadable(image.unreadable);
    if (!report.completed && image.created && image.stop != ImageResult::Stop::NoMap) {
      PrintMessage("The partial image and its map " + ShellWord(RescueMapPath(out).string()) +
                   " stay. Carry on with: " + ResumeCommand(options->source, out));
    }
    status = report.completed ? 0 : 1;
    if (!session.SaveLog()) status = 1;
  });
}

}  // namespace restorix::cli
