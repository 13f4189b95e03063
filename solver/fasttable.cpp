#include "solver/fasttable.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <system_error>

#include "platform/memory.h"
#include "solver/nodepool.h"

namespace zelk::fast {

namespace {

constexpr std::size_t FIRST_BUCKETS = std::size_t(1) << 12;  // 512 KiB
constexpr std::size_t AHEAD_BUCKETS = std::size_t(1) << 16;  // 8 MiB
constexpr std::size_t FILL_STEP_BUCKETS = std::size_t(1) << 14;  // 2 MiB

inline uint32_t addWork(uint32_t total, uint64_t work) {
  const uint64_t sum = uint64_t(total) + work;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

}  // namespace

FastTable::FastTable(std::size_t bytes) {
  std::size_t most = bytes / sizeof(Bucket);
  maxBuckets_ = std::bit_floor(most < 1 ? std::size_t(1) : most);
  reservedBuckets_ = maxBuckets_;
  // The whole budget is mapped at once, so an impossible size is refused
  // now and not in the middle of a search; only the part in use is faulted
  // in. The table grows and shrinks within it.
  buckets_ = static_cast<Bucket*>(mapBlock(reservedBuckets_ * sizeof(Bucket), false));
  if (!buckets_) throw CMemoryException("FastTable: no memory for the transposition table");
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  if (!populateBlock(buckets_, bucketCount_ * sizeof(Bucket))) {
    unmapBlock(buckets_, reservedBuckets_ * sizeof(Bucket));
    throw CMemoryException("FastTable: no memory for the transposition table");
  }
  touched_ = bucketCount_;
  filled_.store(touched_, std::memory_order_relaxed);
  // Any search worth the name grows the table through its first doublings
  // within milliseconds: their memory is faulted in from the start.
  startFiller(std::min(maxBuckets_, AHEAD_BUCKETS));
}

FastTable::~FastTable() {
  reapFiller(true);
  unmapBlock(buckets_, reservedBuckets_ * sizeof(Bucket));
}

void FastTable::startFiller(std::size_t to) {
  const std::size_t from = std::max(touched_, filled_.load(std::memory_order_relaxed));
  if (to <= from) return;
  fillerDone_.store(false, std::memory_order_relaxed);
  try {
    filler_ = std::thread([this, from, to] {
      for (std::size_t at = from; at < to;) {
        const std::size_t end = std::min(to, at + FILL_STEP_BUCKETS);
        if (!populateBlock(buckets_ + at, (end - at) * sizeof(Bucket))) break;
        filled_.store(end, std::memory_order_release);
        at = end;
      }
      fillerDone_.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    // No thread to spare: grow() faults the memory in itself.
    fillerDone_.store(true, std::memory_order_relaxed);
  }
}

// Takes over what the helper has faulted in; joins it once it has ended
// (or waits for that when `wait`).
void FastTable::reapFiller(bool wait) {
  if (filler_.joinable() && (wait || fillerDone_.load(std::memory_order_acquire))) filler_.join();
  touched_ = std::max(touched_, filled_.load(std::memory_order_acquire));
}

// Emptying starts a new generation and goes back to the first size: every
// search then starts from the same table, so what it searches does not
// depend on the endgames before it. The memory stays: what was faulted in
// once is not faulted in again, and a batch of small endgames empties the
// table thousands of times for nothing.
void FastTable::clear() {
  if (stored_ == 0) return;
  stored_ = 0;
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  if (++generation_ != 0) return;
  // Once in 65535 clears the generations wrap: wipe what was used then.
  generation_ = 1;
  std::memset(static_cast<void*>(buckets_), 0, touched_ * sizeof(Bucket));
}

// Doubles the table where it is: an entry of bucket i stays there or moves
// to bucket i + the old count, by the next bit of its hash, in the order
// the entries had. The new half holds nothing of this generation.
void FastTable::grow() {
  reapFiller(false);
  const std::size_t oldCount = bucketCount_;
  const std::size_t count = oldCount * 2;
  if (count > touched_) {
    if (!populateBlock(buckets_ + touched_, (count - touched_) * sizeof(Bucket))) {
      maxBuckets_ = bucketCount_;  // keep working in the table we have
      return;
    }
    touched_ = count;
  }
  bucketCount_ = count;
  mask_ = count - 1;
  for (std::size_t i = 0; i < oldCount; ++i) {
    Bucket& from = buckets_[i];
    Bucket& to = buckets_[i + oldCount];
    int stay = 0, move = 0;
    for (int k = 0; k < 4; ++k) {
      const Entry e = from.e[k];
      if (e.mover == 0 || e.generation != generation_) continue;
      if (detail::hashOf(e.mover, e.opponent, e.beat) & oldCount)
        to.e[move++] = e;
      else
        from.e[stay++] = e;
    }
    for (; stay < 4; ++stay) from.e[stay].mover = 0;
    for (; move < 4; ++move) to.e[move].mover = 0;
  }
}

void FastTable::store(const Key& k, ProofNumbers value, uint64_t work) {
  if (static_cast<std::size_t>(stored_) > bucketCount_ / 2 && bucketCount_ < maxBuckets_) {
    // An eighth full: time to prepare the memory of the next size (which
    // takes the system a while); half full: time to grow.
    if (static_cast<std::size_t>(stored_) > bucketCount_ * 2) grow();
    else if (bucketCount_ * 2 > touched_) {
      reapFiller(false);
      if (!filler_.joinable()) startFiller(bucketCount_ * 2);
    }
  }
  Bucket& b = buckets_[k.hash & mask_];
  const Entry fresh{k.mover, k.opponent, value.pn, value.dn, addWork(0, work), k.beat, generation_};
  Entry* free = nullptr;
  Entry* victim = nullptr;
  for (Entry& e : b.e) {
    if (e.mover == 0 || e.generation != generation_) {
      // Entries of the current generation may follow a stale one.
      if (!free) free = &e;
      continue;
    }
    if (e.mover == k.mover && e.opponent == k.opponent && e.beat == k.beat) {
      e.pn = value.pn;
      e.dn = value.dn;
      e.work = addWork(e.work, work);
      return;
    }
    if (!victim || e.work < victim->work) victim = &e;
  }
  if (free) {
    *free = fresh;
    ++stored_;
    return;
  }
  *victim = fresh;
}

}  // namespace zelk::fast
