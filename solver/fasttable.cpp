#include "solver/fasttable.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "platform/memory.h"

namespace zelk::fast {

namespace {

// A compact key keeps all but the low 13 bits of its hash: the table never
// has fewer buckets than that.
constexpr std::size_t FIRST_BUCKETS = std::size_t(1) << 13;      // 512 KiB
constexpr std::size_t AHEAD_BUCKETS = std::size_t(1) << 17;      // 8 MiB
constexpr std::size_t FILL_STEP_BUCKETS = std::size_t(1) << 15;  // 2 MiB
// The size from which the table keeps its filter: 8 MiB, the filter 256 KiB.
constexpr std::size_t FILTER_BUCKETS = std::size_t(1) << 17;

inline uint32_t addWork(uint32_t total, uint64_t work) {
  const uint64_t sum = uint64_t(total) + work;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

// The effort in four bits: which power of four it reached. Replacement only
// compares efforts, and the big ones differ by orders of magnitude.
inline uint64_t workClass(uint64_t work) {
  const int c = (std::bit_width(work) + 1) / 2;
  return static_cast<uint64_t>(c > 15 ? 15 : c);
}

constexpr uint64_t COMPACT_INF = 0x7FFFFFF;  // 27 bits

inline uint64_t compactNumber(uint32_t n) {
  return n >= PN_INF ? COMPACT_INF : n >= COMPACT_INF ? COMPACT_INF - 1 : n;
}

inline uint64_t compactValue(ProofNumbers value, uint64_t workClass, uint16_t generation) {
  return compactNumber(value.pn) | (compactNumber(value.dn) << 27) | (workClass << 54) |
         (uint64_t(generation) << 58);
}

// The error names the size refused, so that the user knows what to ask for
// instead (--table-mib).
CMemoryException refused(std::size_t bytes) {
  return CMemoryException("FastTable: the system refused " +
                          std::to_string((bytes + (std::size_t(1) << 20) - 1) >> 20) +
                          " MiB for the transposition table");
}

}  // namespace

FastTable::FastTable(std::size_t bytes) {
  const std::size_t most = bytes / sizeof(Bucket);
  maxBuckets_ = std::bit_floor(std::max(most, FIRST_BUCKETS));
  reservedBuckets_ = maxBuckets_;
  // The whole budget is mapped at once, so an impossible size is refused
  // now and not in the middle of a search; only the part in use is faulted
  // in. The table grows and shrinks within it.
  buckets_ = static_cast<Bucket*>(mapBlock(reservedBuckets_ * sizeof(Bucket), false));
  if (!buckets_) throw refused(reservedBuckets_ * sizeof(Bucket));
  if (maxBuckets_ >= FILTER_BUCKETS) {
    filter_ = static_cast<uint64_t*>(mapBlock(reservedBuckets_ / 4 * sizeof(uint64_t), false));
    if (!filter_) {
      unmapBlock(buckets_, reservedBuckets_ * sizeof(Bucket));
      throw refused(reservedBuckets_ * sizeof(Bucket));
    }
  }
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  // Nothing is faulted in yet: most endgames are small and touch a few
  // pages of the first size, and a process that starts, answers and ends
  // pays for every page it touches (see store() for the bigger ones).
  touched_ = 0;
  used_ = bucketCount_;
}

FastTable::~FastTable() {
  fillerStop_.store(true, std::memory_order_relaxed);
  reapFiller(true);
  unmapBlock(buckets_, reservedBuckets_ * sizeof(Bucket));
  if (filter_) unmapBlock(filter_, reservedBuckets_ / 4 * sizeof(uint64_t));
}

void FastTable::startFiller(std::size_t to) {
  const std::size_t from = std::max(touched_, filled_.load(std::memory_order_relaxed));
  if (to <= from) return;
  fillerDone_.store(false, std::memory_order_relaxed);
  try {
    filler_ = std::thread([this, from, to] {
      for (std::size_t at = from; at < to && !fillerStop_.load(std::memory_order_relaxed);) {
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
  if (stored() == 0) return;
  stored_.store(0, std::memory_order_relaxed);
  helperStored_.store(0, std::memory_order_relaxed);
  helperPending_ = 0;
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  filterOn_ = false;  // built afresh when the table is big again
  if (++generation_ <= LAST_GENERATION) return;
  // The generations have come round: an entry of the same number could
  // still sit where this one's searches wrote.
  generation_ = 1;
  wipe();
}

void FastTable::wipe() {
  std::memset(static_cast<void*>(buckets_), 0, used_ * sizeof(Bucket));
  used_ = bucketCount_;
}

void FastTable::setWide(bool wide) {
  if (wide == wide_) return;
  // The other kind of entry reads the same memory differently.
  clear();
  wide_ = wide;
  wipe();
}

void FastTable::readyFor(Rules now, Rules& kept, Hand a, Hand b) {
  if (now != kept) {
    clear();
    kept = now;
  }
  if (!fitsCompact(a, b))
    setWide(true);
  else if (wide_ && stored() == 0)
    setWide(false);
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
  used_ = std::max(used_, count);
  // The bit that now picks the half: bit `shift` of a compact tag is bit
  // shift + 13 of the hash.
  const int shift = std::countr_zero(oldCount) - 13;
  // The filter is built anew from the entries as they move.
  filterOn_ = filter_ && count >= FILTER_BUCKETS;
  if (filterOn_) std::memset(static_cast<void*>(filter_), 0, count / 4 * sizeof(uint64_t));
  for (std::size_t i = 0; i < oldCount; ++i) {
    Bucket& from = buckets_[i];
    Bucket& to = buckets_[i + oldCount];
    Bucket stay{}, move{};
    int stays = 0, moves = 0;
    if (wide_) {
      for (int k = 0; k < WIDE_WAYS; ++k) {
        const uint64_t* e = &from.w[4 * k];
        if (e[3] >> 48 != generation_) continue;
        const uint64_t hash = detail::hashOf(e[0], e[1], static_cast<uint16_t>(e[3] >> 32));
        const bool up = hash & oldCount;
        uint64_t* dest = up ? &move.w[4 * moves++] : &stay.w[4 * stays++];
        std::copy(e, e + 4, dest);
        if (filterOn_) filter_[((up ? oldCount : 0) + i) >> 2] |= filterBits(hash);
      }
    } else {
      for (int k = 0; k < COMPACT_WAYS; ++k) {
        const uint64_t* e = &from.w[2 * k];
        if (e[1] >> 58 != generation_) continue;
        const bool up = e[0] >> shift & 1;
        uint64_t* dest = up ? &move.w[2 * moves++] : &stay.w[2 * stays++];
        dest[0] = e[0];
        dest[1] = e[1];
        // A compact tag holds bits 13 to 63 of the hash at bits 0 to 50.
        if (filterOn_) filter_[((up ? oldCount : 0) + i) >> 2] |= filterBits(e[0] << 13);
      }
    }
    from = stay;
    to = move;
  }
}

void FastTable::store(const Key& k, ProofNumbers value, uint64_t work, bool owner) {
  if (!owner) {
    Bucket& b = buckets_[k.hash & mask_];
    if (storeShared(b, k, value, work) && ++helperPending_ == 64) {
      helperStored_.fetch_add(helperPending_, std::memory_order_relaxed);
      helperPending_ = 0;
    }
    note(k);
    return;
  }
  const std::size_t ways = wide_ ? WIDE_WAYS : COMPACT_WAYS;
  const auto stored = static_cast<std::size_t>(this->stored());
  if (stored > bucketCount_ * ways / 8 && bucketCount_ < maxBuckets_) {
    // Some way full (an eighth, three eighths from 8 MiB on): time to
    // prepare the memory of the next size (which takes the system a
    // while); half full: time to grow.
    if (stored > bucketCount_ * ways / 2) {
      if (shared_)
        growShared();
      else
        grow();
    } else if (bucketCount_ * 2 > touched_ &&
               (bucketCount_ < AHEAD_BUCKETS || stored > bucketCount_ * ways * 3 / 8)) {
      // The first time, a search worth the name: it will grow the table
      // through its first doublings within milliseconds. Past that, the
      // next size only once this one is well on its way to half full: a
      // search that ends before needing it would have paid for faulting it
      // in (2 ms a MiB here) on the core a second search thread uses, and
      // filling the last eighth still takes about four times the faulting.
      reapFiller(false);
      if (!filler_.joinable())
        startFiller(std::max(bucketCount_ * 2, std::min(maxBuckets_, AHEAD_BUCKETS)));
    }
  }
  Bucket& b = buckets_[k.hash & mask_];
  if (shared_ ? storeShared(b, k, value, work) : storeWords(b.w, k, value, work))
    stored_.store(stored_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  note(k);
}

void FastTable::note(const Key& k) {
  if (!filterOn_) return;
  uint64_t& word = filter_[(k.hash & mask_) >> 2];
  const uint64_t bits = filterBits(k.hash);
  if (shared_)
    std::atomic_ref<uint64_t>(word).fetch_or(bits, std::memory_order_relaxed);
  else
    word |= bits;
}

bool FastTable::storeWords(uint64_t* w, const Key& k, ProofNumbers value, uint64_t work) const {
  if (wide_) {
    const uint64_t numbers = value.pn | (uint64_t(value.dn) << 32);
    const uint64_t tail = (uint64_t(k.beat) << 32) | (uint64_t(generation_) << 48);
    uint64_t* free = nullptr;
    uint64_t* victim = nullptr;
    for (int i = 0; i < 4 * WIDE_WAYS; i += 4) {
      uint64_t* e = &w[i];
      if (e[3] >> 48 != generation_) {
        if (!free) free = e;
        continue;
      }
      if (e[0] == k.mover && e[1] == k.opponent && static_cast<uint16_t>(e[3] >> 32) == k.beat) {
        e[2] = numbers;
        e[3] = tail | addWork(static_cast<uint32_t>(e[3]), work);
        return false;
      }
      if (!victim || static_cast<uint32_t>(e[3]) < static_cast<uint32_t>(victim[3])) victim = e;
    }
    uint64_t* at = free ? free : victim;
    at[0] = k.mover;
    at[1] = k.opponent;
    at[2] = numbers;
    at[3] = tail | addWork(0, work);
    return free != nullptr;
  }
  int free = -1, victim = -1;
  uint64_t victimClass = 0;
  for (int i = 0; i < 2 * COMPACT_WAYS; i += 2) {
    const uint64_t v = w[i + 1];
    if (v >> 58 != generation_) {
      // Entries of the current generation may follow a stale one.
      if (free < 0) free = i;
      continue;
    }
    const uint64_t c = (v >> 54) & 0xF;
    if (w[i] == k.tag) {
      // Efforts add up: the class of the sum of the larger one's and this.
      const uint64_t before = c == 0 ? 0 : uint64_t(1) << (2 * c - 1);
      w[i + 1] = compactValue(value, std::max(c, workClass(before + work)), generation_);
      return false;
    }
    if (victim < 0 || c < victimClass) {
      victim = i;
      victimClass = c;
    }
  }
  const int at = free >= 0 ? free : victim;
  w[at] = k.tag;
  w[at + 1] = compactValue(value, workClass(work), generation_);
  return free >= 0;
}

namespace {

constexpr uint64_t LOCK = uint64_t(1) << 63;

// Spins for a while, then lets the other threads run: on a busy machine
// the thread waited for may not have a core.
struct Backoff {
  int spins = 0;
  void operator()() {
    if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield();
    }
  }
};

// The bucket's first word without the lock bit, once the lock is ours.
uint64_t lockBucket(uint64_t& first) {
  std::atomic_ref<uint64_t> word(first);
  for (Backoff wait;; wait()) {
    uint64_t w = word.load(std::memory_order_relaxed);
    if (!(w & LOCK) && word.compare_exchange_weak(w, w | LOCK, std::memory_order_acquire,
                                                  std::memory_order_relaxed))
      return w;
  }
}

void unlockBucket(uint64_t& first, uint64_t value) {
  std::atomic_ref<uint64_t>(first).store(value & ~LOCK, std::memory_order_release);
}

}  // namespace

// The words other than the first are only ever touched with the lock held.
bool FastTable::probeShared(Bucket& b, const Key& k, ProofNumbers& out) const {
  uint64_t w[8];
  w[0] = lockBucket(b.w[0]);
  std::copy(b.w + 1, b.w + 8, w + 1);
  unlockBucket(b.w[0], w[0]);
  return probeWords(w, k, out);
}

bool FastTable::storeShared(Bucket& b, const Key& k, ProofNumbers value, uint64_t work) {
  uint64_t w[8];
  w[0] = lockBucket(b.w[0]);
  std::copy(b.w + 1, b.w + 8, w + 1);
  const bool added = storeWords(w, k, value, work);
  std::copy(w + 1, w + 8, b.w + 1);
  unlockBucket(b.w[0], w[0]);
  return added;
}

void FastTable::beginShared() {
  shared_ = true;
  helperActive_.store(true, std::memory_order_relaxed);
}

void FastTable::endShared() {
  shared_ = false;
  helperActive_.store(false, std::memory_order_relaxed);
  stored_.fetch_add(helperStored_.exchange(0, std::memory_order_relaxed) + helperPending_,
                    std::memory_order_relaxed);
  helperPending_ = 0;
}

// The owner grows the table while the helper stands still.
void FastTable::growShared() {
  const uint32_t pause = ++pauses_ == 0 ? ++pauses_ : pauses_;
  pauseRequest_.store(pause, std::memory_order_seq_cst);
  for (Backoff wait; helperActive_.load(std::memory_order_acquire) &&
                     parkedAt_.load(std::memory_order_acquire) != pause;)
    wait();
  grow();
  pauseRequest_.store(0, std::memory_order_release);
}

void FastTable::park() {
  const uint32_t pause = pauseRequest_.load(std::memory_order_relaxed);
  if (pause == 0) return;
  parkedAt_.store(pause, std::memory_order_release);
  for (Backoff wait; pauseRequest_.load(std::memory_order_acquire) == pause;) wait();
}

}  // namespace zelk::fast
