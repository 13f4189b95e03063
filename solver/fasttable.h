// The fast engine's transposition table: proof and disproof numbers of
// positions, bounded in memory.
//
// A position is the mover's hand, the opponent's hand and the play to beat.
// The rules treat both players alike (only an empty hand ends the game, and
// only the player who just moved can have emptied it), so a position does
// not need to know whether the mover is player1 or player2: the table keys
// on "mover, opponent" and every proof serves both players.
//
// Entries hold the whole key (both hands and the play to beat), never a
// hash alone: a collision could otherwise turn a lost
// position into a won one. An entry also holds the position's proof number
// (0: the mover wins) and disproof number (0: the mover loses) and the
// effort spent on it. Four entries share one bucket; a new entry takes a
// free one or replaces the one that cost least.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "solver/fastmoves.h"

namespace zelk::fast {

// The play to beat as 13 bits: type index, number of cards, rank.
inline uint16_t packBeat(Beat b);

// Proof numbers saturate below INF; INF marks the impossible.
inline constexpr uint32_t PN_INF = 0x3FFFFFFF;

struct ProofNumbers {
  uint32_t pn = 1;  // effort still needed to prove the mover wins; 0: proven
  uint32_t dn = 1;  // effort still needed to prove the mover loses; 0: proven
};

class FastTable {
 public:
  // bytes: the most memory to use (at least one bucket). The table starts
  // small and grows by doubling while it is more than half full, so a small
  // endgame touches little memory. Throws CMemoryException when the system
  // refuses the memory.
  explicit FastTable(std::size_t bytes);
  ~FastTable();
  FastTable(const FastTable&) = delete;
  FastTable& operator=(const FastTable&) = delete;

  // A position as the table keys it, worked out once for a prefetch, a
  // probe and a store.
  struct Key {
    Hand mover;
    Hand opponent;
    uint16_t beat;
    uint64_t hash;
  };
  static Key key(Hand me, Hand opp, uint16_t beat);

  // Asks for the position's line well before probe() reads it.
  // A bucket spans two cache lines, and a position not in the table reads both.
  void prefetch(const Key& k) const {
    const char* line = reinterpret_cast<const char*>(&buckets_[k.hash & mask_]);
    __builtin_prefetch(line);
    __builtin_prefetch(line + 64);
  }
  // False when the position is not in the table.
  bool probe(const Key& k, ProofNumbers& out) const;
  bool probe(Hand me, Hand opp, uint16_t beat, ProofNumbers& out) const {
    return probe(key(me, opp, beat), out);
  }
  // work: a measure of the effort spent on the position (positions searched).
  void store(const Key& k, ProofNumbers value, uint64_t work);
  void store(Hand me, Hand opp, uint16_t beat, ProofNumbers value, uint64_t work) {
    store(key(me, opp, beat), value, work);
  }
  void clear();

  // Entries in use.
  int64_t stored() const { return stored_; }
  std::size_t bytes() const { return bucketCount_ * sizeof(Bucket); }

 private:
  struct Entry {
    Hand mover;  // 0: free (a mover without cards is never stored)
    Hand opponent;
    uint32_t pn, dn;
    uint32_t work;  // saturates
    uint16_t beat;
    uint16_t generation;  // an entry of another generation is free
  };
  static_assert(sizeof(Entry) == 32);
  struct alignas(64) Bucket {
    Entry e[4];
  };

  void grow();

  Bucket* buckets_ = nullptr;      // the whole budget, mapped
  std::size_t reservedBuckets_ = 0;
  std::size_t bucketCount_ = 0;  // in use, a power of two
  std::size_t maxBuckets_ = 0;   // the most it may grow to
  std::size_t touched_ = 0;      // faulted in so far
  // Faulting in the next doubling's memory is slow (the system zeroes every
  // page), so a helper thread does it while the table fills towards it, a
  // few MiB at a time. grow() never waits for it: it takes what the helper
  // has done and faults in the rest itself.
  std::thread filler_;
  std::atomic<std::size_t> filled_{0};  // buckets faulted in by filler_, from the start
  std::atomic<bool> fillerDone_{true};
  void startFiller(std::size_t to);
  void reapFiller(bool wait);
  uint64_t mask_ = 0;
  int64_t stored_ = 0;
  // See clear().
  uint16_t generation_ = 1;
};


// ---------------------------------------------------------------------------
// Definitions the search calls for every play it looks at: here, so that
// they inline into it.

namespace detail {

inline uint64_t mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0x7fb5d329728ea185ULL;
  x ^= x >> 27;
  x *= 0x81dadef4bc2dd44dULL;
  x ^= x >> 33;
  return x;
}

inline int typeIndex(int type) {
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

inline uint64_t hashOf(Hand me, Hand opp, uint16_t beat) {
  return mix(me ^ (opp * 0x9E3779B97F4A7C15ULL) ^ (uint64_t(beat) << 60) ^ (uint64_t(beat) << 2));
}

}  // namespace detail

inline uint16_t packBeat(Beat b) {
  if (b.type == TYPE_PASS) return 0;
  return static_cast<uint16_t>(detail::typeIndex(b.type) | (b.len << 4) | (b.rank << 9));
}

inline FastTable::Key FastTable::key(Hand me, Hand opp, uint16_t beat) {
  return Key{me, opp, beat, detail::hashOf(me, opp, beat)};
}

inline bool FastTable::probe(const Key& k, ProofNumbers& out) const {
  const Bucket& b = buckets_[k.hash & mask_];
  for (const Entry& e : b.e) {
    if (e.mover == k.mover && e.opponent == k.opponent && e.beat == k.beat &&
        e.generation == generation_) {
      out = ProofNumbers{e.pn, e.dn};
      return true;
    }
  }
  return false;
}

}  // namespace zelk::fast
