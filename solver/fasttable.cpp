#include "solver/fasttable.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/memory.h"
#include "solver/nodepool.h"

namespace zelk::fast {

namespace {

constexpr std::size_t FIRST_BUCKETS = std::size_t(1) << 12;  // 512 KiB

inline uint32_t addWork(uint32_t total, uint64_t work) {
  const uint64_t sum = uint64_t(total) + work;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

}  // namespace

FastTable::FastTable(std::size_t bytes) {
  std::size_t most = bytes / sizeof(Bucket);
  maxBuckets_ = std::bit_floor(most < 1 ? std::size_t(1) : most);
  // Ask for the whole budget at once: an impossible size is refused now, not
  // in the middle of a search.
  void* probeAll = mapBlock(maxBuckets_ * sizeof(Bucket), false);
  if (!probeAll) throw CMemoryException("FastTable: no memory for the transposition table");
  unmapBlock(probeAll, maxBuckets_ * sizeof(Bucket));
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  buckets_ = static_cast<Bucket*>(mapBlock(bucketCount_ * sizeof(Bucket), true));
  if (!buckets_) throw CMemoryException("FastTable: no memory for the transposition table");
}

FastTable::~FastTable() { unmapBlock(buckets_, bucketCount_ * sizeof(Bucket)); }

void FastTable::clear() {
  if (stored_ == 0) return;
  stored_ = 0;
  // A table that never grew is wiped where it is: mapping fresh memory would
  // cost a page fault for every page touched again (batches of small
  // endgames clear it thousands of times).
  if (bucketCount_ == std::min(maxBuckets_, FIRST_BUCKETS)) {
    std::memset(static_cast<void*>(buckets_), 0, bucketCount_ * sizeof(Bucket));
    return;
  }
  const std::size_t small = std::min(maxBuckets_, FIRST_BUCKETS);
  auto* fresh = static_cast<Bucket*>(mapBlock(small * sizeof(Bucket), true));
  if (!fresh) {  // keep the grown table, wiped, rather than have none
    std::memset(static_cast<void*>(buckets_), 0, bucketCount_ * sizeof(Bucket));
    return;
  }
  unmapBlock(buckets_, bucketCount_ * sizeof(Bucket));
  buckets_ = fresh;
  bucketCount_ = small;
  mask_ = bucketCount_ - 1;
}

void FastTable::grow() {
  const std::size_t count = bucketCount_ * 2;
  auto* fresh = static_cast<Bucket*>(mapBlock(count * sizeof(Bucket), true));
  if (!fresh) {  // keep working in the table we have: entries get replaced sooner
    maxBuckets_ = bucketCount_;
    return;
  }
  Bucket* old = buckets_;
  const std::size_t oldCount = bucketCount_;
  buckets_ = fresh;
  bucketCount_ = count;
  mask_ = count - 1;
  stored_ = 0;
  for (std::size_t i = 0; i < oldCount; ++i)
    for (const Entry& e : old[i].e) {
      if (e.mover == 0) continue;
      Bucket& b = buckets_[detail::hashOf(e.mover, e.opponent, e.beat) & mask_];
      for (Entry& slot : b.e)
        if (slot.mover == 0) {
          slot = e;
          ++stored_;
          break;
        }
    }
  unmapBlock(old, oldCount * sizeof(Bucket));
}

void FastTable::store(const Key& k, ProofNumbers value, uint64_t work) {
  if (static_cast<std::size_t>(stored_) > bucketCount_ * 2 && bucketCount_ < maxBuckets_) grow();
  Bucket& b = buckets_[k.hash & mask_];
  const Entry fresh{k.mover, k.opponent, value.pn, value.dn, addWork(0, work), k.beat};
  Entry* victim = nullptr;
  for (Entry& e : b.e) {
    if (e.mover == k.mover && e.opponent == k.opponent && e.beat == k.beat) {
      e.pn = value.pn;
      e.dn = value.dn;
      e.work = addWork(e.work, work);
      return;
    }
    if (e.mover == 0) {
      e = fresh;
      ++stored_;
      return;
    }
    if (!victim || e.work < victim->work) victim = &e;
  }
  *victim = fresh;
}

}  // namespace zelk::fast
