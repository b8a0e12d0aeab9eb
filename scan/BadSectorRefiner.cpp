#include "scan/BadSectorRefiner.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {
constexpr std::align_val_t kAlignment{4096};  // any logical sector size up to a page
struct AlignedFree {
  void operator()(unsigned char* p) const { ::operator delete[](p, kAlignment); }
};
}  // namespace

RefineResult RefineBadSectors(CDisk& disk, const std::vector<BadBlock>& blocks, uint32_t logicalSectorSize,
                              const std::function<bool()>& stopRequested, const RefineLimits& limits,
                              const std::function<uint64_t()>& nowMs,
                              const std::function<void(size_t done, size_t total)>& progress) {
  RefineResult result;
  result.blocksTotal = blocks.size();
  const uint32_t unit = std::max<uint32_t>(1, logicalSectorSize / 512);  // 512-byte sectors a read
  std::unique_ptr<unsigned char[], AlignedFree> buffer(
      static_cast<unsigned char*>(::operator new[](size_t{unit} * 512, kAlignment)));
  const uint64_t start = nowMs();
  const auto outOfTime = [&] { return nowMs() - start >= static_cast<uint64_t>(limits.maxTime.count()); };
  for (const BadBlock& block : blocks) {
    if (result.blocksRefined >= limits.maxBlocks || outOfTime()) {
      result.limited = true;
      break;
    }
    // Whole logical sectors: a block of a 4K-native drive starts and ends on
    // one (its reads were aligned to them).
    const uint64_t first = block.sector / unit * unit;
    const uint64_t end = block.sector + block.sectors;
    for (uint64_t s = first; s < end; s += unit) {
      if (stopRequested && stopRequested()) {
        result.stopped = true;
        break;
      }
      // Within a block too: each of its 128 sectors may cost the drive many
      // seconds of retries.
      if (outOfTime()) {
        result.limited = true;
        break;
      }
      if (disk.ReadSectors(s, static_cast<uint16_t>(unit), buffer.get()) != 0) continue;
      for (uint64_t k = s; k < s + unit && k < end; ++k) result.sectors.push_back(k);
    }
    if (result.stopped || result.limited) break;
    ++result.blocksRefined;
    if (progress) progress(result.blocksRefined, result.blocksTotal);
  }
  std::sort(result.sectors.begin(), result.sectors.end());
  result.sectors.erase(std::unique(result.sectors.begin(), result.sectors.end()), result.sectors.end());
  return result;
}
