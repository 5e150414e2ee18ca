#include "fs/ntfs_data.h"

#include <algorithm>
#include <vector>

#include "engine.h"
#include "fs/lznt1.h"
#include "fs/ntfs_record.h"

namespace restorix {

namespace {

constexpr std::uint16_t kAttributeCompressed = 0x0001;
// Contiguous clusters read at once: large reads, bounded memory.
constexpr std::uint64_t kReadBytes = 1 << 20;
// A compression unit beyond this (2^exponent clusters) is not real.
constexpr std::uint64_t kMaxUnitBytes = 4 << 20;

std::u16string AttributeName(const Attribute& a) {
  const std::size_t units = u8(a.record, a.offset + 0x09);
  const std::size_t at = le16(a.record, a.offset + 0x0A);
  const Bytes bytes = Slice(a.bytes(), at, 2 * units);
  std::u16string name(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = le16(bytes, 2 * i);
  return name;
}

// The output file, cut at the item's size; bytes at or past the initialised
// size read as zeros, as they do on the volume.
class Output {
 public:
  Output(int fd, std::uint64_t size) : fd_(fd), size_(size), initialised_(size) {}
  void SetInitialised(std::uint64_t bytes) { initialised_ = std::min(bytes, size_); }
  bool full() const { return written_ >= size_; }
  std::uint64_t written() const { return written_; }

  void Write(Bytes bytes) {
    bytes = bytes.first(std::min<std::uint64_t>(bytes.size(), size_ - written_));
    const std::uint64_t real =
        written_ >= initialised_ ? 0 : std::min<std::uint64_t>(bytes.size(), initialised_ - written_);
    if (real != 0) WriteOrAbort(fd_, bytes.first(real));
    written_ += real;
    Zeros(bytes.size() - real);
  }

  // Zeros up to the start of cluster `vcn` of the stream.
  void ZerosTo(std::uint64_t vcn, std::uint32_t clusterBytes) {
    const auto target = CheckedMul(vcn, clusterBytes);
    const std::uint64_t end = target ? std::min(*target, size_) : size_;
    if (end > written_) Zeros(end - written_);
  }

  void Zeros(std::uint64_t count) {
    static const std::vector<std::uint8_t> zeros(64 * 1024, 0);
    count = std::min(count, size_ - written_);
    while (count != 0) {
      const std::size_t n = std::min<std::uint64_t>(count, zeros.size());
      WriteOrAbort(fd_, Bytes(zeros).first(n));
      written_ += n;
      count -= n;
    }
  }

 private:
  int fd_;
  std::uint64_t size_;
  std::uint64_t initialised_;
  std::uint64_t written_ = 0;
};

class DataWriter {
 public:
  DataWriter(Engine& engine, Output& out)
      : engine_(engine), context_(engine.context), clusterBytes_(context_.clusterBytes()), out_(out) {}

  // Writes one non-resident attribute whose runs start at `firstVcn`.
  void NonResident(const Attribute& attribute) {
    std::vector<RunNode> runs;
    DecodeRunList(attribute.bytes(), attribute.runListOffset(), runs);
    const unsigned exponent = attribute.compressionUnit();
    const bool compressed = (attribute.flags() & kAttributeCompressed) && exponent < 32 &&
                            (std::uint64_t{clusterBytes_} << exponent) <= kMaxUnitBytes;
    if (compressed) {
      CompressedRuns(runs, std::uint64_t{1} << exponent);
    } else {
      PlainRuns(runs);
    }
  }

 private:
  // Reads `count` clusters from `cluster` on into `buffer` (cleared first, so
  // unreadable clusters stay zero).
  void ReadClusters(std::uint64_t cluster, std::uint64_t count, std::vector<std::uint8_t>& buffer) {
    buffer.assign(count * clusterBytes_, 0);
    const auto sector = ClusterSector(context_, cluster);
    if (sector) engine_.ReadSectors(buffer, *sector);
  }

  void PlainRuns(const std::vector<RunNode>& runs) {
    const std::uint64_t step = std::max<std::uint64_t>(1, kReadBytes / clusterBytes_);
    std::vector<std::uint8_t> buffer;
    for (const RunNode& run : runs) {
      if (run.startCluster == 0) {
        out_.Zeros(run.clusterCount * clusterBytes_);  // a sparse run reads as zeros
      }
      for (std::uint64_t done = 0; run.startCluster != 0 && done < run.clusterCount && !out_.full();) {
        const std::uint64_t count = std::min(step, run.clusterCount - done);
        ReadClusters(run.startCluster + done, count, buffer);
        out_.Write(buffer);
        done += count;
      }
      if (out_.full()) return;
    }
  }

  // Runs of a compressed attribute, one compression unit at a time: a unit
  // whose clusters are all stored is written as it is, one that ends in
  // sparse clusters holds LZNT1 data, and one that is all sparse is zeros.
  void CompressedRuns(const std::vector<RunNode>& runs, std::uint64_t unitClusters) {
    const std::uint64_t unitBytes = unitClusters * clusterBytes_;
    std::vector<std::uint8_t> stored;
    stored.reserve(unitBytes);
    std::vector<std::uint8_t> cluster;
    std::vector<std::uint8_t> expanded(unitBytes);
    std::uint64_t filled = 0;  // clusters of the current unit, stored or sparse

    const auto flush = [&] {
      if (stored.size() == unitBytes || (filled < unitClusters && !stored.empty() &&
                                         filled * clusterBytes_ == stored.size())) {
        out_.Write(stored);  // uncompressed, or a tail left when the runs end
      } else if (stored.empty()) {
        out_.Zeros(filled * clusterBytes_);
      } else if (Lznt1ChunksFit(stored)) {
        std::fill(expanded.begin(), expanded.end(), 0);
        Lznt1Decompress(stored, expanded);
        out_.Write(expanded);
      } else {
        out_.Write(stored);
      }
      stored.clear();
      filled = 0;
    };

    for (const RunNode& run : runs) {
      for (std::uint64_t left = run.clusterCount; left != 0 && !out_.full();) {
        const std::uint64_t take = std::min(left, unitClusters - filled);
        if (run.startCluster != 0) {
          const std::uint64_t from = run.startCluster + (run.clusterCount - left);
          ReadClusters(from, take, cluster);
          stored.insert(stored.end(), cluster.begin(), cluster.end());
        }
        filled += take;
        left -= take;
        if (filled == unitClusters) flush();
      }
      if (out_.full()) return;
    }
    if (filled != 0) flush();  // what the last, unfinished unit holds
  }

  Engine& engine_;
  const VolumeContext& context_;
  std::uint32_t clusterBytes_;
  Output& out_;
};

}  // namespace

void WriteNtfsData(Engine& engine, const ItemNode& node, int out) {
  const VolumeContext& context = engine.context;
  if (node.size == 0 || context.clusterBytes() == 0) return;
  Output output(out, node.size);
  DataWriter writer(engine, output);
  std::vector<std::uint8_t> record(context.mftRecordBytes());
  std::uint64_t nextVcn = 0;  // where the stream's data written so far ends

  for (const Extent& extent : node.extents) {
    if (output.full()) break;
    std::fill(record.begin(), record.end(), 0);
    engine.ReadSectors(record, extent.start);
    if (!CheckMftRecord(record, context)) break;

    std::optional<std::u16string> stream;
    for (AttributeWalk walk(record, extent.length); auto a = walk.Next();) {
      if (a->type() != ATTR_DATA) continue;
      // The extent's own attribute first, then the pieces of the same stream
      // that follow it in the record.
      const bool own = !stream.has_value();
      if (own) {
        stream = AttributeName(*a);
      } else if (AttributeName(*a) != *stream) {
        continue;
      }
      if (!a->nonResident()) {
        if (own && a->valueLength() != 0) output.Write(a->value());
        break;
      }
      const std::uint64_t firstVcn = a->firstVcn();
      if (firstVcn == 0 && nextVcn == 0) output.SetInitialised(le64(a->record, a->offset + 0x38));
      if (firstVcn < nextVcn || (!own && firstVcn != nextVcn)) continue;
      // Every piece lands at its own place in the file: a gap before it, or
      // runs that fall short of its VCN range, read as zeros.
      output.ZerosTo(firstVcn, context.clusterBytes());
      writer.NonResident(*a);
      nextVcn = a->lastVcn() + 1;
      output.ZerosTo(nextVcn, context.clusterBytes());
      if (output.full()) break;
    }
  }
}

}  // namespace restorix
