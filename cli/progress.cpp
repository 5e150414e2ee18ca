#include "progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace restorix::cli {

namespace {
std::atomic<StopToken*> interruptStop{nullptr};
std::atomic<int> interrupts{0};
std::atomic<bool> interruptEnds{false};

// Ends the program as a stopped one; safe in a signal handler.
[[noreturn]] void EndStopped() {
  constexpr char kText[] = "restorix: stopped by the user\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
  _exit(130);
}

extern "C" void OnInterrupt(int) {
  if (interrupts.fetch_add(1) > 0) _exit(130);
  if (interruptEnds.load()) EndStopped();
  if (StopToken* stop = interruptStop.load()) stop->RequestStop();
}
}  // namespace

bool Interrupted() {
  return interrupts.load() > 0;
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

StopToken* StopOnInterrupt(StopToken* stop) {
  return interruptStop.exchange(stop);
}

void EndOnInterrupt(bool ends) {
  interruptEnds.store(ends);
  if (ends && Interrupted()) EndStopped();
}

ProgressLine::ProgressLine(std::string what, std::string unit, std::uint64_t bytesPerUnit)
    : enabled_(isatty(STDERR_FILENO) != 0),
      what_(std::move(what)),
      unit_(std::move(unit)),
      bytesPerUnit_(bytesPerUnit),
      start_(std::chrono::steady_clock::now()) {
}

ProgressLine::~ProgressLine() {
  Finish();
}

void ProgressLine::TaskPhase(std::uint32_t phase, std::uint32_t count) {
  char text[64];
  std::snprintf(text, sizeof text, "Processing phase %u of %u", phase, count);
  phase_ = text;
}

void ProgressLine::ScanProgress(std::uint64_t position, std::uint64_t total) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  drawn_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const unsigned percent = total ? static_cast<unsigned>(100.0 * position / total) : 0;
  const auto elapsed = static_cast<unsigned>(seconds);
  char rate[48] = "";
  if (seconds > 0.5) {
    const double perSecond = position / seconds;
    if (bytesPerUnit_ != 0) {
      std::snprintf(rate, sizeof rate, "  %.1f MB/s", perSecond * bytesPerUnit_ / 1048576.0);
    } else {
      std::snprintf(rate, sizeof rate, "  %.0f %s/s", perSecond, unit_.c_str());
    }
  }
  std::fprintf(stderr, "\r\033[K%s %3u%%  %s  %02u:%02u:%02u%s", what_.c_str(), percent,
               phase_.c_str(), elapsed / 3600, elapsed / 60 % 60, elapsed % 60, rate);
  std::fflush(stderr);
}

void ProgressLine::Finish() {
  if (enabled_ && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
  }
}

}  // namespace restorix::cli
