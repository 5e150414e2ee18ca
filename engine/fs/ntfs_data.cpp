#include "fs/ntfs_data.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "disk/volume.h"
#include "fs/ntfs_record.h"

namespace restorix {

namespace {

constexpr std::uint16_t kAttributeCompressed = 0x0001;
// A compression unit beyond this (2^exponent clusters) is not real.
constexpr std::uint64_t kMaxUnitBytes = 4 << 20;

// The stream being mapped, cut at the item's size.
class Output {
 public:
  Output(StreamMap& map, std::uint64_t size) : map_(map), size_(size) {}
  void SetInitialised(std::uint64_t bytes) { map_.initialised = std::min(bytes, size_); }
  bool full() const { return map_.length() >= size_; }
  std::uint64_t left() const { return full() ? 0 : size_ - map_.length(); }
  StreamMap& map() { return map_; }

 private:
  StreamMap& map_;
  std::uint64_t size_;
};

// Clusters as bytes, held at the largest value instead of wrapping.
std::uint64_t ClusterSpan(std::uint64_t clusters, std::uint32_t clusterBytes) {
  return CheckedMul(clusters, clusterBytes).value_or(~std::uint64_t{0});
}

// The runs of one stream, fed in VCN order, possibly from several
// attributes: a compression unit may well begin in one attribute and end in
// the next, so the unit being gathered carries over between them.
class StreamMapper {
 public:
  StreamMapper(const VolumeContext& context, Output& out)
      : context_(context), clusterBytes_(context.clusterBytes()), out_(out) {}

  // Decides how the stream is stored, from its first non-resident piece.
  void Start(const Attribute& attribute) {
    const unsigned exponent = attribute.compressionUnit();
    compressed_ = (attribute.flags() & kAttributeCompressed) && exponent < 32 &&
                  (std::uint64_t{clusterBytes_} << exponent) <= kMaxUnitBytes;
    unitClusters_ = compressed_ ? std::uint64_t{1} << exponent : 1;
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
  void PlainRun(const RunNode& run) {
    const std::uint64_t bytes = std::min(ClusterSpan(run.clusterCount, clusterBytes_), out_.left());
    const auto sector =
        run.startCluster == 0 ? std::nullopt : ClusterSector(context_, run.startCluster);
    if (sector) {
      out_.map().Sectors(*sector, bytes);
    } else {
      out_.map().Zeros(bytes);  // a sparse run (or one off any sector) reads as zeros
    }
  }

  void CompressedRun(const RunNode& run) {
    for (std::uint64_t left = run.clusterCount; left != 0 && !out_.full();) {
      const std::uint64_t take = std::min(left, unitClusters_ - filled_);
      if (run.startCluster != 0) {
        const std::uint64_t first =
            CheckedAdd(run.startCluster, run.clusterCount - left).value_or(~std::uint64_t{0});
        stored_.push_back({take, first});
        storedClusters_ += take;
      }
      filled_ += take;
      left -= take;
      if (filled_ == unitClusters_) FlushUnit();
    }
  }

  // A unit whose clusters are all stored is plain data; one that is all
  // sparse is zeros; one that ends in sparse clusters holds LZNT1 data that
  // decodes to the whole unit.
  void FlushUnit() {
    if (storedClusters_ == filled_) {
      for (const RunNode& run : stored_)
        PlainRun(run);
    } else if (stored_.empty()) {
      out_.map().Zeros(std::min(ClusterSpan(filled_, clusterBytes_), out_.left()));
    } else {
      out_.map().Unit(std::move(stored_), ClusterSpan(unitClusters_, clusterBytes_));
    }
    stored_.clear();
    storedClusters_ = 0;
    filled_ = 0;
  }

  const VolumeContext& context_;
  std::uint32_t clusterBytes_;
  Output& out_;
  bool compressed_ = false;
  std::uint64_t unitClusters_ = 1;
  std::uint64_t filled_ = 0;  // clusters of the current unit, stored or sparse
  std::vector<RunNode> stored_;
  std::uint64_t storedClusters_ = 0;
};

}  // namespace

StreamMap MapNtfsStream(const Volume& volume, const NtfsRecord& item, std::uint64_t size) {
  StreamMap map;
  const VolumeContext& context = volume.context();
  if (size == 0 || context.clusterBytes() == 0) return map;
  Output output(map, size);
  StreamMapper mapper(context, output);
  std::vector<std::uint8_t> record(context.mftRecordBytes());
  std::uint64_t nextVcn = 0;  // the stream's clusters fed so far
  // Clusters that no run maps (a gap before a piece, or runs that fall short
  // of a piece's VCN range) read as sparse, but only where runs follow: the
  // stream never goes past its last run, whatever its VCNs claim. A stretch
  // of them longer than the volume is no damaged stream but a forged one,
  // and ends it.
  std::uint64_t unmapped = 0;
  const std::uint64_t volumeClusters = context.totalSectors() / context.sectorsPerCluster();
  bool ended = false;
  bool started = false;

  for (const Extent& extent : item.extents) {
    if (output.full() || ended) break;
    volume.ReadSectors(record, extent.start);
    if (!CheckMftRecord(record, context)) break;

    std::optional<std::u16string> stream;
    for (AttributeWalk walk(record, extent.length); auto a = walk.Next();) {
      if (a->type() != ATTR_DATA) continue;
      // The extent's own attribute first, then the pieces of the same stream
      // that follow it in the record.
      const bool own = !stream.has_value();
      if (own) {
        stream = a->name();
      } else if (a->name() != *stream) {
        continue;
      }
      if (!a->nonResident()) {
        if (own && a->valueLength() != 0) {
          const Bytes value = a->value();
          map.Resident(value.first(std::min<std::uint64_t>(value.size(), output.left())));
        }
        break;
      }
      const std::uint64_t firstVcn = a->firstVcn();
      const std::uint64_t lastVcn = a->lastVcn();
      if (lastVcn < firstVcn || lastVcn == ~std::uint64_t{0}) continue;
      if (firstVcn < nextVcn || (!own && firstVcn != nextVcn)) continue;
      if (!started) {
        mapper.Start(*a);
        started = true;
      }
      if (firstVcn == 0) output.SetInitialised(a->initialisedSize());
      // Every piece lands at its own place in the stream.
      unmapped = CheckedAdd(unmapped, firstVcn - nextVcn).value_or(~std::uint64_t{0});
      std::vector<RunNode> runs;
      DecodeRunList(a->bytes(), a->runListOffset(), runs);
      std::uint64_t fed = 0;
      const std::uint64_t clusters = lastVcn - firstVcn + 1;
      for (const RunNode& run : runs) {
        if (output.full() || fed >= clusters) break;
        if (run.clusterCount == 0) continue;
        if (unmapped > volumeClusters) {
          ended = true;
          break;
        }
        if (unmapped != 0) mapper.Feed({std::exchange(unmapped, 0), 0});
        const std::uint64_t count = std::min(run.clusterCount, clusters - fed);
        mapper.Feed({count, run.startCluster});
        fed += count;
      }
      unmapped = CheckedAdd(unmapped, clusters - fed).value_or(~std::uint64_t{0});
      nextVcn = firstVcn + clusters;
      if (output.full() || ended) break;
    }
  }
  mapper.Finish();
  return map;
}

}  // namespace restorix
