#include "solver/fasttable.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>

#include "solver/nodepool.h"

namespace zelk::fast {

namespace {

// Nibble counts (each at most 4) squeezed to three bits a rank: 45 bits.
inline uint64_t squeeze(Hand h) {
  uint64_t x = h & 0x0777777777777777ULL;
  x = (x & 0x0707070707070707ULL) | ((x >> 1) & 0x3838383838383838ULL);
  x = (x & 0x003F003F003F003FULL) | ((x >> 2) & 0x0FC00FC00FC00FC0ULL);
  x = (x & 0x00000FFF00000FFFULL) | ((x >> 4) & 0x00FFF00000FFF000ULL);
  x = (x & 0x0000000000FFFFFFULL) | ((x >> 8) & 0x0000FFFFFF000000ULL);
  return x;
}

inline uint64_t mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0x7fb5d329728ea185ULL;
  x ^= x >> 27;
  x *= 0x81dadef4bc2dd44dULL;
  x ^= x >> 33;
  return x;
}


int typeIndex(int type) {
  switch (type) {
    case TYPE_PASS: return 0;
    case TYPE_G: return 1;
    case TYPE_D: return 2;
    case TYPE_3: return 3;
    case TYPE_31: return 4;
    case TYPE_32: return 5;
    case TYPE_411: return 6;
    case TYPE_422: return 7;
    case TYPE_F: return 8;
    case TYPE_F11: return 9;
    case TYPE_F22: return 10;
    case TYPE_SZ: return 11;
    case TYPE_LD: return 12;
    case TYPE_ZD: return 13;
    case TYPE_WZ: return 14;
    default: return 15;
  }
}

void* mapZeroed(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

uint16_t packBeat(Beat b) {
  if (b.type == TYPE_PASS) return 0;
  return static_cast<uint16_t>(typeIndex(b.type) | (b.len << 4) | (b.rank << 9));
}

namespace {

constexpr std::size_t FIRST_BUCKETS = std::size_t(1) << 12;  // 512 KiB

inline uint64_t hashOf(uint64_t k0, uint64_t k1) { return mix(k0 ^ (k1 * 0x9E3779B97F4A7C15ULL)); }

}  // namespace

FastTable::FastTable(std::size_t bytes) {
  std::size_t most = bytes / sizeof(Bucket);
  maxBuckets_ = std::bit_floor(most < 1 ? std::size_t(1) : most);
  // Ask for the whole budget at once: an impossible size is refused now, not
  // in the middle of a search.
  void* probeAll = mapZeroed(maxBuckets_ * sizeof(Bucket));
  if (!probeAll) throw CMemoryException("FastTable: no memory for the transposition table");
  munmap(probeAll, maxBuckets_ * sizeof(Bucket));
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  buckets_ = static_cast<Bucket*>(mapZeroed(bucketCount_ * sizeof(Bucket)));
  if (!buckets_) throw CMemoryException("FastTable: no memory for the transposition table");
}

FastTable::~FastTable() { munmap(buckets_, bucketCount_ * sizeof(Bucket)); }

void FastTable::clear() {
  if (stored_ == 0) return;
  munmap(buckets_, bucketCount_ * sizeof(Bucket));
  bucketCount_ = std::min(maxBuckets_, FIRST_BUCKETS);
  mask_ = bucketCount_ - 1;
  buckets_ = static_cast<Bucket*>(mapZeroed(bucketCount_ * sizeof(Bucket)));
  if (!buckets_) throw CMemoryException("FastTable: no memory for the transposition table");
  stored_ = 0;
}

void FastTable::grow() {
  const std::size_t count = bucketCount_ * 2;
  auto* fresh = static_cast<Bucket*>(mapZeroed(count * sizeof(Bucket)));
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
      if (e.key == 0) continue;
      Bucket& b = buckets_[hashOf(e.key, e.opponent) & mask_];
      for (Entry& slot : b.e)
        if (slot.key == 0) {
          slot = e;
          ++stored_;
          break;
        }
    }
  munmap(old, oldCount * sizeof(Bucket));
}

uint64_t FastTable::slot(Hand me, Hand opp, uint16_t beat) const {
  return hashOf(squeeze(me) | (uint64_t(beat) << 45), squeeze(opp));
}

bool FastTable::probe(Hand me, Hand opp, uint16_t beat, ProofNumbers& out) const {
  const uint64_t k0 = squeeze(me) | (uint64_t(beat) << 45);
  const uint64_t k1 = squeeze(opp);
  const Bucket& b = buckets_[hashOf(k0, k1) & mask_];
  for (const Entry& e : b.e) {
    if (e.key == k0 && e.opponent == k1) {
      out = ProofNumbers{e.pn, e.dn};
      return true;
    }
  }
  return false;
}

void FastTable::store(Hand me, Hand opp, uint16_t beat, ProofNumbers value, uint64_t work) {
  const uint64_t k0 = squeeze(me) | (uint64_t(beat) << 45);
  const uint64_t k1 = squeeze(opp);
  if (static_cast<std::size_t>(stored_) > bucketCount_ * 2 && bucketCount_ < maxBuckets_) grow();
  Bucket& b = buckets_[hashOf(k0, k1) & mask_];
  Entry* victim = nullptr;
  for (Entry& e : b.e) {
    if (e.key == k0 && e.opponent == k1) {
      e.pn = value.pn;
      e.dn = value.dn;
      e.work += work;
      return;
    }
    if (e.key == 0) {  // a mover without cards is never stored: key 0 is free
      e = Entry{k0, k1, value.pn, value.dn, work};
      ++stored_;
      return;
    }
    if (!victim || e.work < victim->work) victim = &e;
  }
  *victim = Entry{k0, k1, value.pn, value.dn, work};
}

}  // namespace zelk::fast
