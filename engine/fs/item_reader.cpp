#include "fs/item_reader.h"

#include <algorithm>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/lznt1.h"
#include "fs/ntfs_data.h"

namespace restorix {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// An item never reads past its volume: its map ends where its data would
// leave the volume (a forged run, a deleted file's clusters read on past the
// last one, a carved length past the source's end).
void EndAtVolume(StreamMap& map, const VolumeContext& context) {
  const std::uint64_t end = VolumeEndSector(context);
  const std::uint32_t sectorBytes = context.bytesPerSector();
  const auto within = [&](std::optional<std::uint64_t> first, std::optional<std::uint64_t> count) {
    return first && count && *first < end && *count <= end - *first;
  };
  for (std::size_t i = 0; i < map.segments.size(); ++i) {
    StreamSegment& segment = map.segments[i];
    std::uint64_t keep = segment.length;
    if (segment.kind == StreamSegment::Kind::Sectors) {
      const std::uint64_t room =
          segment.sector >= end
              ? 0
              : CheckedMul(end - segment.sector, sectorBytes).value_or(~std::uint64_t{0});
      keep = std::min(keep, room);
    } else if (segment.kind == StreamSegment::Kind::Unit) {
      for (const RunNode& run : segment.stored) {
        if (!within(ClusterSector(context, run.startCluster),
                    CheckedMul(run.clusterCount, context.sectorsPerCluster()))) {
          keep = 0;
        }
      }
    }
    if (keep < segment.length) {
      segment.length = keep;
      map.segments.resize(keep != 0 ? i + 1 : i);
      return;
    }
  }
}

}  // namespace

StreamSegment& StreamMap::Add(StreamSegment::Kind kind, std::uint64_t length) {
  StreamSegment& segment = segments.emplace_back();
  segment.kind = kind;
  segment.offset = segments.size() > 1
                       ? segments[segments.size() - 2].offset + segments[segments.size() - 2].length
                       : 0;
  segment.length = length;
  return segment;
}

void StreamMap::Zeros(std::uint64_t length) {
  if (length == 0) return;
  if (!segments.empty() && segments.back().kind == StreamSegment::Kind::Zeros) {
    segments.back().length += length;
    return;
  }
  Add(StreamSegment::Kind::Zeros, length);
}

void StreamMap::Sectors(std::uint64_t sector, std::uint64_t length) {
  if (length != 0) Add(StreamSegment::Kind::Sectors, length).sector = sector;
}

void StreamMap::Resident(Bytes bytes) {
  if (!bytes.empty())
    Add(StreamSegment::Kind::Resident, bytes.size()).bytes.assign(bytes.begin(), bytes.end());
}

void StreamMap::Unit(std::vector<RunNode> stored, std::uint64_t length) {
  if (length != 0) Add(StreamSegment::Kind::Unit, length).stored = std::move(stored);
}

ItemReader::ItemReader(const Volume& volume, const ItemNode& item)
    : volume_(volume), size_(item.size) {
  if (size_ == 0) return;
  std::visit(Overloaded{
                 [](const std::monostate&) {},
                 [&](const NtfsRecord& record) { map_ = MapNtfsStream(volume, record, size_); },
                 [&](const FatChain& chain) { map_ = MapFatItem(volume, chain, size_); },
                 [&](const Carved& carved) { map_.Sectors(carved.firstSector, size_); },
             },
             item.location);
  EndAtVolume(map_, volume.context());
}

std::size_t ItemReader::read(std::uint64_t offset, MutableBytes out) {
  const std::uint64_t end = std::min(size_, map_.length());
  if (offset >= end) return 0;
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), end - offset));
  // The first segment that ends after `offset`.
  auto segment = std::upper_bound(
      map_.segments.begin(), map_.segments.end(), offset,
      [](std::uint64_t at, const StreamSegment& s) { return at < s.offset + s.length; });
  std::size_t done = 0;
  for (; done < wanted && segment != map_.segments.end(); ++segment) {
    const std::uint64_t position = offset + done;
    const std::uint64_t within = position - segment->offset;
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, segment->length - within));
    const MutableBytes part = out.subspan(done, take);
    ReadSegment(*segment, within, part);
    // Past the initialised size the volume reads zeros, whatever is stored.
    if (position + take > map_.initialised) {
      const std::uint64_t keep = position >= map_.initialised ? 0 : map_.initialised - position;
      std::fill(part.begin() + static_cast<std::ptrdiff_t>(keep), part.end(), 0);
    }
    done += take;
  }
  return done;
}

void ItemReader::ReadSegment(const StreamSegment& segment, std::uint64_t within, MutableBytes out) {
  switch (segment.kind) {
    case StreamSegment::Kind::Zeros:
      std::fill(out.begin(), out.end(), 0);
      return;
    case StreamSegment::Kind::Resident: {
      const Bytes bytes = Slice(segment.bytes, static_cast<std::size_t>(within), out.size());
      std::copy(bytes.begin(), bytes.end(), out.begin());
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(bytes.size()), out.end(), 0);
      return;
    }
    case StreamSegment::Kind::Unit: {
      const Bytes bytes = Slice(DecodedUnit(segment), static_cast<std::size_t>(within), out.size());
      std::copy(bytes.begin(), bytes.end(), out.begin());
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(bytes.size()), out.end(), 0);
      return;
    }
    case StreamSegment::Kind::Sectors:
      break;
  }
  const std::uint32_t sectorBytes = volume_.context().bytesPerSector();
  const auto start = CheckedMul(segment.sector, sectorBytes);
  const auto at = start ? CheckedAdd(*start, within) : std::nullopt;
  if (sectorBytes == 0 || !at) {
    std::fill(out.begin(), out.end(), 0);
    return;
  }
  const std::uint64_t head = *at % sectorBytes;
  if (head == 0 && out.size() % sectorBytes == 0) {
    volume_.ReadSectors(out, *at / sectorBytes);  // whole sectors: straight in
    return;
  }
  // One read of the sectors that hold the bytes. The buffer stays with the
  // thread, so a save of many small files does not allocate for each.
  thread_local std::vector<std::uint8_t> sectors;
  sectors.resize(
      static_cast<std::size_t>((head + out.size() + sectorBytes - 1) / sectorBytes * sectorBytes));
  volume_.ReadSectors(sectors, *at / sectorBytes);
  std::copy_n(sectors.begin() + static_cast<std::ptrdiff_t>(head), out.size(), out.begin());
}

// A compression unit whose clusters are all stored is read as it is; one
// that ends in sparse clusters holds LZNT1 data. A unit that does not decode
// keeps its place in the stream: its stored bytes, then zeros.
Bytes ItemReader::DecodedUnit(const StreamSegment& segment) {
  if (decoded_ == &segment) return unit_;
  const std::uint32_t clusterBytes = volume_.context().clusterBytes();
  std::vector<std::uint8_t> stored;
  std::vector<std::uint8_t> clusters;
  for (const RunNode& run : segment.stored) {
    clusters.assign(static_cast<std::size_t>(run.clusterCount) * clusterBytes, 0);
    if (const auto sector = ClusterSector(volume_.context(), run.startCluster)) {
      volume_.ReadSectors(clusters, *sector);
    }
    stored.insert(stored.end(), clusters.begin(), clusters.end());
  }
  if (stored.size() == segment.length) {
    unit_ = std::move(stored);
  } else if (Lznt1ChunksFit(stored)) {
    unit_.assign(static_cast<std::size_t>(segment.length), 0);
    Lznt1Decompress(stored, unit_);
  } else {
    unit_ = std::move(stored);
    unit_.resize(static_cast<std::size_t>(segment.length), 0);
  }
  decoded_ = &segment;
  return unit_;
}

void CutClaimedSizes(const Volume& volume, ItemTree& tree, const StopToken& stop,
                     const std::function<void(ItemNode&, const ItemReader&)>& also) {
  WalkTree(tree.root(), [&](ItemNode& node, int) {
    if (node.isFolder() || !stop.running()) return;
    const ItemReader reader(volume, node);
    const std::uint64_t length = reader.length();
    if (length < node.size) {
      node.claimedSize = std::max(node.claimedSize, node.size);
      node.size = length;
    }
    if (also) also(node, reader);
  });
}

}  // namespace restorix
