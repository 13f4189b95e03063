// Pool of GameNode records.
//
// The solver creates and deletes nodes at tens of millions per second, and a
// whole tree may be deleted on another thread than the one that built it. So
// each thread keeps a private free list and trades full batches with a shared
// list under a mutex; memory comes from the system in large blocks that are
// kept for reuse.
//
// A Linux process rarely sees an allocation fail: the kernel kills it
// instead, and the user loses everything. So the pool refuses to grow past a
// budget (by default a share of the physical memory) and throws
// CMemoryException, which the solving run reports like any memory failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"

namespace zelk {

struct GameNode;

namespace nodepool {

GameNode* allocate();          // uninitialised storage
void release(GameNode* node);  // back to this thread's free list
// Hands this thread's free list to the shared list (e.g. after deleting a tree).
void flushThreadCache();

// When no node is alive and no other thread holds free nodes, forgets the
// free lists and hands the blocks out again from their start: a search then
// writes its nodes in address order, as in fresh memory, instead of all over
// the pool in the order an earlier tree happened to be freed (a cache and
// TLB miss for nearly every node). Returns whether it did. Cheap: the
// solver thread calls it before every solve.
bool recycleIfIdle();

// Nodes handed out and not given back, as far as this thread can tell: the
// nodes alive, and any free ones another thread still keeps in its own
// cache. Exact once the threads that freed nodes have handed their caches
// over (a thread does when it ends, the release thread after every tree).
std::size_t liveNodes();

// Budget in bytes of node storage; 0 restores the default.
void setBudgetBytes(std::size_t bytes);
std::size_t budgetBytes();
// Bytes taken from the system so far (never shrinks), and the peak of nodes alive.
std::size_t reservedBytes();

}  // namespace nodepool
}  // namespace zelk
