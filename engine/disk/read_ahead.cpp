#include "disk/read_ahead.h"

#include <algorithm>

#include "disk/volume.h"

namespace restorix {

ReadAhead::ReadAhead(const Volume& volume, const StopToken& stop, Planner plan,
                     std::size_t maxBytes, unsigned depth)
    : volume_(volume),
      stop_(stop),
      plan_(std::move(plan)),
      maxBytes_(maxBytes),
      slots_(std::max(depth, 2u)) {
  helper_ = std::thread([this] { Work(); });
}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void ReadAhead::Work() {
  for (std::uint64_t next = 0;; ++next) {
    {
      std::unique_lock lock(mutex_);
      // Every slot but the ones still unread or held by the consumer is free.
      changed_.wait(lock, [&] { return ending_ || next - released_ < slots_.size(); });
      if (ending_) return;
    }
    Slot& slot = slots_[next % slots_.size()];
    slot.failure = nullptr;
    bool read = false;
    try {
      const std::optional<Piece> piece = stop_.running() ? plan_() : std::nullopt;
      if (piece) {
        slot.read.piece = *piece;
        // A slot grows to the pieces it holds: a short plan (a small MFT, a
        // small disk) costs what it reads, not depth x maxBytes.
        const std::size_t bytes = std::min(piece->bytes, maxBytes_);
        if (slot.buffer.size() < bytes) slot.buffer.resize(bytes);
        slot.read.bytes = MutableBytes(slot.buffer).first(bytes);
        slot.read.error = volume_.ReadSectors(slot.read.bytes, piece->sector);
        read = true;
      }
    } catch (...) {
      slot.failure = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      if (read || slot.failure) ++produced_;
      finished_ = !read;
    }
    changed_.notify_all();
    if (!read) return;
  }
}

std::optional<ReadAhead::Read> ReadAhead::Next() {
  Slot* slot = nullptr;
  {
    std::unique_lock lock(mutex_);
    released_ = consumed_;  // the piece handed out last time is done with
    changed_.notify_all();
    changed_.wait(lock, [&] { return produced_ > consumed_ || finished_; });
    if (produced_ == consumed_) return std::nullopt;
    slot = &slots_[consumed_ % slots_.size()];
  }
  ++consumed_;
  if (slot->failure) std::rethrow_exception(slot->failure);
  return slot->read;
}

}  // namespace restorix
