// The fast engine's transposition table: proof and disproof numbers of
// positions, bounded in memory.
//
// A position is the mover's hand, the opponent's hand and the play to beat.
// The rules treat both players alike (only an empty hand ends the game, and
// only the player who just moved can have emptied it), so a position does
// not need to know whether the mover is player1 or player2: the table keys
// on "mover, opponent" and every proof serves both players.
//
// Entries identify their position exactly, never by a hash alone: a
// collision could otherwise turn a lost position into a won one. The search
// waits on the table's memory more than on anything else, so an entry is
// kept to 16 bytes and a bucket to one cache line of four entries. That
// fits because cards come from one pack: no rank is held more than four
// times by both hands together, so the two counts of a rank make one of
// fifteen pairs, four bits, and both hands one word. That word and the play
// to beat go through a mixing that can be undone; the low bits of the
// result pick the bucket, and the entry keeps the rest, so no two positions
// ever look alike. Hands with more than four of a rank between them
// (a second pack) make the table switch to wide entries, two a bucket,
// holding both hands whole.
//
// An entry also holds the position's proof number (0: the mover wins) and
// disproof number (0: the mover loses) and a measure of the effort spent on
// it; a new entry takes a free place in its bucket or replaces the one that
// cost least.
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
  // bytes: the most memory to use (at least 512 KiB are used). The table
  // starts small and grows by doubling while it is more than half full, so
  // a small endgame touches little memory. Throws CMemoryException when the
  // system refuses the memory.
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
    uint64_t hash;  // picks the bucket
    uint64_t tag;   // what a compact entry keeps of the position
  };
  Key key(Hand me, Hand opp, uint16_t beat) const;

  // Whether two hands fit compact entries: no rank held more than four
  // times between them.
  static bool fitsCompact(Hand a, Hand b);
  // Compact entries, or wide ones for hands that do not fit them. A change
  // empties the table.
  void setWide(bool wide);
  bool wide() const { return wide_; }
  // Readies the table for a search of the hands a and b under the rules
  // `now`, `kept` being the rules its entries were found under: other rules
  // empty it. Wide entries serve every position, compact ones only those
  // from one pack; a later position from one pack keeps what the wide ones
  // hold, until there is nothing to keep.
  void readyFor(Rules now, Rules& kept, Hand a, Hand b);

  // Asks for what probe() will read, well before it reads it.
  void prefetch(const Key& k) const {
    if (filterOn_)
      __builtin_prefetch(&filter_[(k.hash & mask_) >> 2]);
    else
      __builtin_prefetch(&buckets_[k.hash & mask_]);
  }
  // Asks for the position's bucket, which a store will read and write.
  void prefetchForStore(const Key& k) const { __builtin_prefetch(&buckets_[k.hash & mask_], 1); }
  // False when the position is not in the table.
  bool probe(const Key& k, ProofNumbers& out) const;
  bool probe(Hand me, Hand opp, uint16_t beat, ProofNumbers& out) const {
    return probe(key(me, opp, beat), out);
  }
  // work: a measure of the effort spent on the position (positions searched).
  // Only the owner's stores grow the table (see beginShared).
  void store(const Key& k, ProofNumbers value, uint64_t work, bool owner = true);
  void store(Hand me, Hand opp, uint16_t beat, ProofNumbers value, uint64_t work) {
    store(key(me, opp, beat), value, work);
  }
  void clear();

  // Entries in use.
  int64_t stored() const {
    return stored_.load(std::memory_order_relaxed) + helperStored_.load(std::memory_order_relaxed);
  }
  std::size_t bytes() const { return bucketCount_ * sizeof(Bucket); }
  // Past the caches: a probe then mostly waits for memory (the filter is
  // kept from that size on).
  bool large() const { return filterOn_; }

  // Sharing with one helper thread. Between beginShared and endShared (both
  // on the owner's thread, the helper started after the one and ended
  // before the other) the helper may probe and store too: a bucket is then
  // locked for each access, and when the owner grows the table it first
  // waits for the helper to stand still at a pausePoint. The helper calls
  // pausePoint often, touching no entry in between, and helperDone when it
  // touches none any more.
  void beginShared();
  void endShared();
  void pausePoint() {
    if (pauseRequest_.load(std::memory_order_relaxed) != 0) park();
  }
  void helperDone() { helperActive_.store(false, std::memory_order_release); }

 private:
  // Compact entry, two words: the tag (see key()) and
  //   bits 0-26 proof number, 27-53 disproof number (saturated; all ones
  //   is PN_INF), 54-57 effort class (see workClass), 58-63 generation.
  // Wide entry, four words: mover, opponent, proof | disproof number << 32,
  //   effort | play to beat << 32 | generation << 48.
  // A word of 0 is what fresh memory holds: generation 0, a free entry.
  static constexpr int COMPACT_WAYS = 4;
  static constexpr int WIDE_WAYS = 2;
  struct alignas(64) Bucket {
    uint64_t w[8];
  };
  static_assert(sizeof(Bucket) == 64);
  // Generations run from 1 to this (they share the compact entry's six bits).
  static constexpr uint16_t LAST_GENERATION = 63;

  void grow();
  // The entries of a bucket, as words. True when the key is there.
  bool probeWords(const uint64_t* w, const Key& k, ProofNumbers& out) const;
  // True when the key took a free entry.
  bool storeWords(uint64_t* w, const Key& k, ProofNumbers value, uint64_t work) const;
  bool probeShared(Bucket& b, const Key& k, ProofNumbers& out) const;
  bool storeShared(Bucket& b, const Key& k, ProofNumbers value, uint64_t work);
  void wipe();
  void park();
  void growShared();
  // Most positions the search asks for are not in the table, and once the
  // table is bigger than the caches each such probe waits for memory. A
  // filter 1/32 of its size, which the caches hold far better (wholly up
  // to a table of about 128 MiB), answers most of them: a word for every
  // four buckets, in which each entry of those buckets sets two bits picked
  // by its hash. A position whose bits are not both set is not in the
  // table; entries replaced leave their bits, which only costs a probe.
  // Small tables, which the caches hold, go without.
  static uint64_t filterBits(uint64_t hash) {
    return (uint64_t(1) << ((hash >> 52) & 63)) | (uint64_t(1) << (hash >> 58));
  }
  void note(const Key& k);

  // Read by both threads at every probe, and written only while the
  // helper stands still (or there is none): kept off the lines either
  // thread writes often.
  alignas(64) Bucket* buckets_ = nullptr;  // the whole budget, mapped
  uint64_t mask_ = 0;
  uint64_t* filter_ = nullptr;  // a word for every four buckets of the budget, mapped
  bool wide_ = false;
  bool shared_ = false;
  bool filterOn_ = false;  // the filter holds every entry of the table
  // See clear().
  uint16_t generation_ = 1;
  // The owner's alone.
  std::size_t reservedBuckets_ = 0;
  std::size_t bucketCount_ = 0;  // in use, a power of two
  std::size_t maxBuckets_ = 0;   // the most it may grow to
  std::size_t touched_ = 0;      // faulted in so far
  std::size_t used_ = 0;         // written to since the last wipe
  uint32_t pauses_ = 0;
  // Faulting in the next doubling's memory is slow (the system zeroes every
  // page), so a helper thread does it while the table fills towards it, a
  // few MiB at a time. grow() never waits for it: it takes what the helper
  // has done and faults in the rest itself.
  std::thread filler_;
  std::atomic<std::size_t> filled_{0};  // buckets faulted in by filler_, from the start
  std::atomic<bool> fillerDone_{true};
  std::atomic<bool> fillerStop_{false};  // the table is going away
  void startFiller(std::size_t to);
  void reapFiller(bool wait);
  // Entries taken: by the owner, and by the helper (which tells a batch at
  // a time, so that the owner's growth test rarely misses the cache).
  alignas(64) std::atomic<int64_t> stored_{0};
  alignas(64) std::atomic<int64_t> helperStored_{0};
  int64_t helperPending_ = 0;
  // Sharing: the bucket lock is the top bit of its first word (no key or
  // hand uses it). A pause request carries a number the helper echoes in
  // parkedAt_ while it stands still.
  alignas(64) std::atomic<uint32_t> pauseRequest_{0};
  alignas(64) std::atomic<uint32_t> parkedAt_{0};
  std::atomic<bool> helperActive_{false};
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

namespace detail {

// Both hands as one word: four bits a rank for the pair of counts (a, b)
// with a + b <= 4, numbered by their sum first: (a + b)(a + b + 1) / 2 + a.
inline uint64_t pairCode(Hand a, Hand b) {
  constexpr Hand LOW = 0x1111111111111111ULL;
  const Hand s = a + b;
  const Hand s0 = s & LOW, s1 = (s >> 1) & LOW, s2 = (s >> 2) & LOW;
  const Hand triangle = (s0 ^ s1) | ((s1 | s2) << 1) | ((s0 & s1) << 2) | (s2 << 3);
  return triangle + a;
}

// True when every count of the word is at most 4.
inline bool countsUpTo4(Hand h) {
  constexpr Hand HIGH = 0x8888888888888888ULL;
  // Below 8, a count plus 3 reaches bit 3 exactly when it is 5 or more.
  return !(h & HIGH) && !(((h & ~HIGH) + 0x3333333333333333ULL) & HIGH);
}

}  // namespace detail

inline bool FastTable::fitsCompact(Hand a, Hand b) {
  constexpr Hand RANK_NIBBLES = (Hand(1) << (4 * RANKS)) - 1;
  return ((a | b) & ~RANK_NIBBLES) == 0 && detail::countsUpTo4(a) && detail::countsUpTo4(b) &&
         detail::countsUpTo4(a + b);  // no carries: each count is at most 4
}

inline FastTable::Key FastTable::key(Hand me, Hand opp, uint16_t beat) const {
  if (wide_) return Key{me, opp, beat, detail::hashOf(me, opp, beat), 0};
  // The pair code takes 60 bits; the play to beat's low four bits fill the
  // word and its other ten change the word by a function of them, so the
  // mixing (a bijection) keeps positions apart. A bucket index keeps at
  // least the low 13 bits of the result, the entry the other 51 and the
  // ten bits of the play.
  const uint64_t high = beat >> 4;
  const uint64_t z = detail::mix((detail::pairCode(me, opp) | (uint64_t(beat & 0xF) << 60)) ^
                                 (high * 0x9E3779B97F4A7C15ULL));
  return Key{me, opp, beat, z, (z >> 13) | (high << 51)};
}

inline bool FastTable::probeWords(const uint64_t* w, const Key& k, ProofNumbers& out) const {
  if (wide_) {
    for (int i = 0; i < 4 * WIDE_WAYS; i += 4) {
      const uint64_t* e = &w[i];
      if (e[0] == k.mover && e[1] == k.opponent && e[3] >> 48 == generation_ &&
          static_cast<uint16_t>(e[3] >> 32) == k.beat) {
        out = ProofNumbers{static_cast<uint32_t>(e[2]), static_cast<uint32_t>(e[2] >> 32)};
        return true;
      }
    }
    return false;
  }
  for (int i = 0; i < 2 * COMPACT_WAYS; i += 2) {
    const uint64_t v = w[i + 1];
    if (w[i] == k.tag && (v >> 58) == generation_) {
      const uint32_t pn = static_cast<uint32_t>(v & 0x7FFFFFF),
                     dn = static_cast<uint32_t>((v >> 27) & 0x7FFFFFF);
      out = ProofNumbers{pn == 0x7FFFFFF ? PN_INF : pn, dn == 0x7FFFFFF ? PN_INF : dn};
      return true;
    }
  }
  return false;
}

inline bool FastTable::probe(const Key& k, ProofNumbers& out) const {
  const uint64_t index = k.hash & mask_;
  if (filterOn_) {
    const uint64_t bits = filterBits(k.hash);
    uint64_t& word = filter_[index >> 2];
    const uint64_t held =
        shared_ ? std::atomic_ref<uint64_t>(word).load(std::memory_order_relaxed) : word;
    if ((held & bits) != bits) return false;
  }
  Bucket& b = buckets_[index];
  if (shared_) return probeShared(b, k, out);
  return probeWords(b.w, k, out);
}

}  // namespace zelk::fast
