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
  for (std::size_t i = 0; i < name.size(); ++i)
    name[i] = le16(bytes, 2 * i);
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
    const std::uint64_t real = written_ >= initialised_
                                   ? 0
                                   : std::min<std::uint64_t>(bytes.size(), initialised_ - written_);
    if (real != 0) WriteOrAbort(fd_, bytes.first(real));
    written_ += real;
    Zeros(bytes.size() - real);
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

// The runs of one stream, fed in VCN order, possibly from several
// attributes: a compression unit may well begin in one attribute and end in
// the next, so the unit being gathered carries over between them.
class StreamWriter {
 public:
  StreamWriter(Engine& engine, Output& out)
      : engine_(engine),
        context_(engine.context),
        clusterBytes_(context_.clusterBytes()),
        out_(out) {}

  // Decides how the stream is stored, from its first non-resident piece.
  void Start(const Attribute& attribute) {
    const unsigned exponent = attribute.compressionUnit();
    compressed_ = (attribute.flags() & kAttributeCompressed) && exponent < 32 &&
                  (std::uint64_t{clusterBytes_} << exponent) <= kMaxUnitBytes;
    unitClusters_ = compressed_ ? std::uint64_t{1} << exponent : 1;
    stored_.reserve(unitClusters_ * clusterBytes_);
  }

  // One run of the stream; startCluster 0 is a sparse run.
  void Feed(const RunNode& run) {
    if (compressed_) {
      CompressedRun(run);
    } else {
      PlainRun(run);
    }
  }

  // Ends the stream: what a last, unfinished compression unit holds.
  void Finish() {
    if (compressed_ && filled_ != 0) FlushUnit();
  }

 private:
  // Reads `count` clusters from `cluster` on into `buffer` (cleared first, so
  // unreadable clusters stay zero).
  void ReadClusters(std::uint64_t cluster, std::uint64_t count, std::vector<std::uint8_t>& buffer) {
    buffer.assign(count * clusterBytes_, 0);
    const auto sector = ClusterSector(context_, cluster);
    if (sector) engine_.ReadSectors(buffer, *sector);
  }

  void PlainRun(const RunNode& run) {
    if (run.startCluster == 0) {
      out_.Zeros(run.clusterCount * clusterBytes_);  // a sparse run reads as zeros
      return;
    }
    const std::uint64_t step = std::max<std::uint64_t>(1, kReadBytes / clusterBytes_);
    for (std::uint64_t done = 0; done < run.clusterCount && !out_.full();) {
      const std::uint64_t count = std::min(step, run.clusterCount - done);
      ReadClusters(run.startCluster + done, count, buffer_);
      out_.Write(buffer_);
      done += count;
    }
  }

  // A compression unit whose clusters are all stored is written as it is,
  // one that ends in sparse clusters holds LZNT1 data, and one that is all
  // sparse is zeros.
  void CompressedRun(const RunNode& run) {
    for (std::uint64_t left = run.clusterCount; left != 0 && !out_.full();) {
      const std::uint64_t take = std::min(left, unitClusters_ - filled_);
      if (run.startCluster != 0) {
        ReadClusters(run.startCluster + (run.clusterCount - left), take, buffer_);
        stored_.insert(stored_.end(), buffer_.begin(), buffer_.end());
      }
      filled_ += take;
      left -= take;
      if (filled_ == unitClusters_) FlushUnit();
    }
  }

  void FlushUnit() {
    const bool allStored = stored_.size() == filled_ * clusterBytes_;
    if (allStored && !stored_.empty()) {
      out_.Write(stored_);  // uncompressed, or a tail the runs left unfinished
    } else if (stored_.empty()) {
      out_.Zeros(filled_ * clusterBytes_);
    } else if (Lznt1ChunksFit(stored_)) {
      expanded_.assign(unitClusters_ * clusterBytes_, 0);
      Lznt1Decompress(stored_, expanded_);
      out_.Write(expanded_);
    } else {
      out_.Write(stored_);
    }
    stored_.clear();
    filled_ = 0;
  }

  Engine& engine_;
  const VolumeContext& context_;
  std::uint32_t clusterBytes_;
  Output& out_;
  bool compressed_ = false;
  std::uint64_t unitClusters_ = 1;
  std::uint64_t filled_ = 0;  // clusters of the current unit, stored or sparse
  std::vector<std::uint8_t> stored_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> expanded_;
};

}  // namespace

void WriteNtfsData(Engine& engine, const ItemNode& node, int out) {
  const VolumeContext& context = engine.context;
  if (node.size == 0 || context.clusterBytes() == 0) return;
  Output output(out, node.size);
  StreamWriter writer(engine, output);
  std::vector<std::uint8_t> record(context.mftRecordBytes());
  std::uint64_t nextVcn = 0;  // the stream's clusters fed so far
  bool started = false;

  for (const Extent& extent : node.extents) {
    if (output.full()) break;
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
      if (firstVcn < nextVcn || (!own && firstVcn != nextVcn)) continue;
      if (!started) {
        writer.Start(*a);
        started = true;
      }
      if (firstVcn == 0) output.SetInitialised(le64(a->record, a->offset + 0x38));
      // Every piece lands at its own place in the stream: a gap before it,
      // or runs that fall short of its VCN range, read as sparse clusters.
      if (firstVcn > nextVcn) writer.Feed({firstVcn - nextVcn, 0});
      std::vector<RunNode> runs;
      DecodeRunList(a->bytes(), a->runListOffset(), runs);
      std::uint64_t fed = 0;
      const std::uint64_t clusters = a->lastVcn() - firstVcn + 1;
      for (const RunNode& run : runs) {
        if (output.full() || fed >= clusters) break;
        const std::uint64_t count = std::min(run.clusterCount, clusters - fed);
        writer.Feed({count, run.startCluster});
        fed += count;
      }
      if (fed < clusters && !output.full()) writer.Feed({clusters - fed, 0});
      nextVcn = firstVcn + clusters;
      if (output.full()) break;
    }
  }
  writer.Finish();
}

}  // namespace restorix
