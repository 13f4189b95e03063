#include "solver/nodepool.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include "solver/gamenode.h"

namespace zelk::nodepool {

namespace {

struct FreeNode {
  FreeNode* next;
};
static_assert(sizeof(GameNode) >= sizeof(FreeNode));

constexpr std::size_t BLOCK_NODES = 1 << 16;  // 6 MiB of nodes per system allocation
constexpr std::size_t BATCH = 4096;           // nodes traded with the shared list at once

std::mutex sharedMutex;
FreeNode* sharedHead = nullptr;  // guarded by sharedMutex
std::size_t sharedCount = 0;     // guarded by sharedMutex
std::atomic<std::size_t> reserved{0};
std::atomic<std::size_t> budget{0};

std::size_t defaultBudget() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return std::size_t(4) << 30;
  // Leave room for the rest of the program, the desktop and the other trees
  // still waiting for release.
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) / 5 * 3;
}

// Takes nodes from the front of a list: returns the remaining list.
FreeNode* split(FreeNode* head, std::size_t count, FreeNode** tail) {
  FreeNode* last = head;
  for (std::size_t i = 1; i < count && last->next; ++i) last = last->next;
  *tail = last;
  FreeNode* rest = last->next;
  last->next = nullptr;
  return rest;
}

// The hot part of a thread's cache is plain data, so that reaching it costs
// one thread-relative load; the part with a destructor is made on first refill.
struct ThreadState {
  FreeNode* head;
  std::size_t count;
  char* bump;  // the uncarved rest of this thread's newest block
  char* bumpEnd;
};
constinit thread_local ThreadState local{nullptr, 0, nullptr, nullptr};

void giveAll() {
  ThreadState& c = local;
  if (!c.head) return;
  FreeNode* tail = c.head;
  while (tail->next) tail = tail->next;
  std::lock_guard<std::mutex> g(sharedMutex);
  tail->next = sharedHead;
  sharedHead = c.head;
  sharedCount += c.count;
  c.head = nullptr;
  c.count = 0;
}

void giveBatch() {
  ThreadState& c = local;
  FreeNode* tail;
  FreeNode* rest = split(c.head, BATCH, &tail);
  FreeNode* batch = c.head;
  c.head = rest;
  c.count -= BATCH;
  std::lock_guard<std::mutex> g(sharedMutex);
  tail->next = sharedHead;
  sharedHead = batch;
  sharedCount += BATCH;
}

// Hands a thread's nodes to the shared list when the thread ends.
struct ThreadExit {
  ~ThreadExit() {
    ThreadState& c = local;
    while (c.bump && c.bump + sizeof(GameNode) <= c.bumpEnd) {
      auto* n = reinterpret_cast<FreeNode*>(c.bump);
      n->next = c.head;
      c.head = n;
      ++c.count;
      c.bump += sizeof(GameNode);
    }
    giveAll();
  }
};

GameNode* refill() {
  static thread_local ThreadExit atExit;
  (void)atExit;
  ThreadState& c = local;
  {
    std::lock_guard<std::mutex> g(sharedMutex);
    if (sharedHead) {
      std::size_t n = sharedCount < BATCH ? sharedCount : BATCH;
      FreeNode* tail;
      FreeNode* rest = split(sharedHead, n, &tail);
      c.head = sharedHead;
      c.count = n;
      sharedHead = rest;
      sharedCount -= n;
    }
  }
  if (c.head) {
    FreeNode* n = c.head;
    c.head = n->next;
    --c.count;
    return reinterpret_cast<GameNode*>(n);
  }
  if (c.bump && c.bump + sizeof(GameNode) <= c.bumpEnd) {
    auto* n = reinterpret_cast<GameNode*>(c.bump);
    c.bump += sizeof(GameNode);
    return n;
  }
  // A new block from the system, within the budget.
  std::size_t limit = budgetBytes();
  std::size_t used = reserved.load();
  std::size_t nodes = BLOCK_NODES;
  if (used + nodes * sizeof(GameNode) > limit) {
    nodes = used < limit ? (limit - used) / sizeof(GameNode) : 0;
  }
  if (nodes == 0) throw CMemoryException("node memory budget exhausted");
  void* block = std::malloc(nodes * sizeof(GameNode));
  if (!block) throw CMemoryException("out of memory");
  reserved.fetch_add(nodes * sizeof(GameNode));
  c.bump = static_cast<char*>(block) + sizeof(GameNode);
  c.bumpEnd = static_cast<char*>(block) + nodes * sizeof(GameNode);
  return static_cast<GameNode*>(block);
}

}  // namespace

GameNode* allocate() {
  ThreadState& c = local;
  if (c.head) {
    FreeNode* n = c.head;
    c.head = n->next;
    --c.count;
    return reinterpret_cast<GameNode*>(n);
  }
  if (c.bump && c.bump + sizeof(GameNode) <= c.bumpEnd) {
    auto* n = reinterpret_cast<GameNode*>(c.bump);
    c.bump += sizeof(GameNode);
    return n;
  }
  return refill();
}

void release(GameNode* node) {
  ThreadState& c = local;
  auto* n = reinterpret_cast<FreeNode*>(node);
  n->next = c.head;
  c.head = n;
  if (++c.count >= 2 * BATCH) giveBatch();
}

void flushThreadCache() { giveAll(); }

void setBudgetBytes(std::size_t bytes) { budget.store(bytes); }

std::size_t budgetBytes() {
  std::size_t b = budget.load();
  if (b == 0) {
    b = defaultBudget();
    budget.store(b);
  }
  return b;
}

std::size_t reservedBytes() { return reserved.load(); }

}  // namespace zelk::nodepool
