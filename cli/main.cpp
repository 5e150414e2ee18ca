#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "progress.h"
#include "source.h"
#include "tree_output.h"

namespace {

// Passes standard output through and counts it, so that a --json command
// that failed before printing its document is seen to have printed none.
// Standard output goes through it while it lives.
class CountingBuffer : public std::streambuf {
 public:
  CountingBuffer() : out_(std::cout.rdbuf(this)) {}
  ~CountingBuffer() override {
    std::cout.flush();
    std::cout.rdbuf(out_);
  }
  CountingBuffer(const CountingBuffer&) = delete;
  CountingBuffer& operator=(const CountingBuffer&) = delete;
  std::uint64_t count() const { return count_; }

 protected:
  int overflow(int c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    ++count_;
    return out_->sputc(traits_type::to_char_type(c));
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    count_ += static_cast<std::uint64_t>(n);
    return out_->sputn(text, n);
  }
  int sync() override { return out_->pubsync(); }

 private:
  std::streambuf* out_;
  std::uint64_t count_ = 0;
};

bool JsonAsked(const CLI::App& app) {
  for (const CLI::App* command : app.get_subcommands()) {
    const CLI::Option* json = command->get_option_no_throw("--json");
    if (json != nullptr && json->count() > 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A write past a file-size limit fails with EFBIG and is reported like any
  // other failed write, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  restorix::cli::CatchInterrupts();
  const CountingBuffer counted;
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
  // With --json, a failure is a document too.
  if (status != 0 && counted.count() == 0 && JsonAsked(app)) {
    std::string error;
    for (const std::string& message : restorix::cli::PrintedErrors())
      error += (error.empty() ? "" : "\n") + message;
    restorix::cli::PrintJson(nlohmann::ordered_json{{"error", error.empty() ? "failed" : error}});
  }
  return status;
}
