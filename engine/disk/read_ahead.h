// Sequential reads of the source done on a helper thread, a few pieces ahead
// of the code that works through them, so that reading and parsing overlap.
// Each piece is read exactly as Volume::ReadSectors reads it: the errno of a
// failed read travels with the piece, and a lost device is raised when the
// consumer reaches the piece whose read found it gone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

class ReadAhead {
 public:
  struct Piece {
    std::uint64_t sector = 0;  // absolute sector of the first byte
    std::size_t bytes = 0;     // at most the maxBytes given to the constructor
    std::uint64_t tag = 0;     // the planner's own, handed back with the bytes
  };
  // Gives the pieces in reading order, nullopt after the last. Called on the
  // helper thread only.
  using Planner = std::function<std::optional<Piece>()>;

  struct Read {
    Piece piece;
    MutableBytes bytes;
    int error = 0;  // as returned by Volume::ReadSectors
  };

  // Starts reading. At most `depth` pieces of up to maxBytes each are held.
  // The helper stops early when the task is stopped.
  ReadAhead(const Volume& volume, const StopToken& stop, Planner plan, std::size_t maxBytes,
            unsigned depth);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Waits for the next piece. Its bytes stay valid until the next call.
  // nullopt when the plan is done or the reading stopped. Raises what the
  // piece's read raised (DeviceLostError).
  std::optional<Read> Next();

 private:
  struct Slot {
    std::vector<std::uint8_t> buffer;
    Read read;
    std::exception_ptr failure;
  };
  void Work();

  const Volume& volume_;
  const StopToken& stop_;
  Planner plan_;
  std::size_t maxBytes_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: pieces read (a failed one included), pieces the
  // consumer is done with, and whether the helper has ended or must end.
  std::uint64_t produced_ = 0;
  std::uint64_t released_ = 0;
  bool finished_ = false;
  bool ending_ = false;
  std::uint64_t consumed_ = 0;  // pieces handed out; consumer thread only
  std::thread helper_;
};

}  // namespace restorix
