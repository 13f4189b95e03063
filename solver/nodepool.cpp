#include "solver/nodepool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/memlimit.h"
#include "platform/memory.h"
#include "solver/gamenode.h"

namespace zelk::nodepool {

namespace {

// Free nodes travel in batches: a list linked through `next` whose first
// node also holds the batch's size and the next batch of the shared stack,
// so that handing a batch over never walks its list (a cache miss a node).
struct FreeNode {
  FreeNode* next;
  FreeNode* nextBatch;  // on a batch's first node
  std::size_t count;    // on a batch's first node
};
static_assert(sizeof(GameNode) >= sizeof(FreeNode));

constexpr std::size_t BLOCK_NODES = 1 << 16;  // 6 MiB of nodes per system allocation
// The first block is small: a process whose tree stays small (the fast
// engine keeps only the replay's) then faults in a few pages of it, not a
// huge page, and starts no helper thread (see takePreparedBlock).
constexpr std::size_t FIRST_BLOCK_NODES = 1 << 12;  // 384 KiB
constexpr std::size_t BATCH = 4096;                 // nodes traded with the shared list at once

std::mutex sharedMutex;
FreeNode* sharedBatches = nullptr;  // guarded by sharedMutex
std::size_t sharedCount = 0;        // guarded by sharedMutex: nodes in them
// Every block taken from the system, the ones not carved yet since the
// pool was last found idle (see recycleIfIdle) from nextBlock on.
struct Block {
  char* start;
  std::size_t nodes;
};
std::vector<Block> blocks;   // guarded by sharedMutex
std::size_t nextBlock = 0;   // guarded by sharedMutex
std::size_t totalNodes = 0;  // guarded by sharedMutex: node slots in all blocks
std::atomic<std::size_t> reserved{0};
std::atomic<std::size_t> budget{0};

std::size_t defaultBudget() {
  // Within a container's limit too: past it the process would be killed
  // instead of reporting the memory failure.
  const uint64_t usable = usableMemoryBytes();
  if (usable == 0) return std::size_t(4) << 30;
  // Leave room for the rest of the program, the desktop and the other trees
  // still waiting for release.
  return static_cast<std::size_t>(usable / 5 * 3);
}

// Fresh memory is slow to touch the first time: the system has to find and
// zero every page (on a virtual machine the host may have to back it too),
// and a search whose tree keeps growing would do that on its own thread,
// between positions. So a helper thread prepares the next blocks, faulted
// in, while the search works in the current one. Blocks count against the
// budget when a thread takes them, as blocks mapped on the spot do.
constexpr std::size_t BLOCK_BYTES = BLOCK_NODES * sizeof(GameNode);
constexpr int READY_AHEAD = 2;

struct Supply {
  std::mutex m;
  std::condition_variable wake;
  void* ready[READY_AHEAD] = {};  // guarded by m
  int readyCount = 0;             // guarded by m
  bool started = false;           // guarded by m
  bool failed = false;            // guarded by m: the system refused a block
};

// Never destroyed: the helper thread waits on it until the process ends.
Supply& supply() {
  static Supply* s = new Supply;
  return *s;
}

void prepareBlocks() {
  Supply& s = supply();
  std::unique_lock<std::mutex> lock(s.m);
  for (;;) {
    s.wake.wait(lock, [&] {
      return !s.failed && s.readyCount < READY_AHEAD &&
             reserved.load() + std::size_t(s.readyCount + 1) * BLOCK_BYTES <= budgetBytes();
    });
    lock.unlock();
    void* block = mapBlock(BLOCK_BYTES, true);
    lock.lock();
    if (!block) {
      s.failed = true;  // blocks are then mapped where they are needed
      continue;
    }
    s.ready[s.readyCount++] = block;
  }
}

// A prepared block, or nullptr when none is ready; asks for the next one.
void* takePreparedBlock() {
  Supply& s = supply();
  void* block = nullptr;
  {
    std::lock_guard<std::mutex> g(s.m);
    if (!s.started) {
      s.started = true;
      try {
        std::thread(prepareBlocks).detach();
      } catch (const std::system_error&) {
        s.failed = true;  // no thread to spare: blocks are mapped where they are needed
      }
    }
    if (s.readyCount > 0) block = s.ready[--s.readyCount];
  }
  s.wake.notify_one();
  return block;
}

// The hot part of a thread's cache is plain data, so that reaching it costs
// one thread-relative load; the part with a destructor is made on first refill.
struct ThreadState {
  FreeNode* head;  // fewer than BATCH nodes
  std::size_t count;
  FreeNode* spare;  // a full batch, or nullptr
  char* bump;       // the uncarved rest of this thread's newest block
  char* bumpEnd;
};
constinit thread_local ThreadState local{nullptr, 0, nullptr, nullptr, nullptr};

void pushShared(FreeNode* batch, std::size_t count) {  // sharedMutex held
  batch->count = count;
  batch->nextBatch = sharedBatches;
  sharedBatches = batch;
  sharedCount += count;
}

void giveAll() {
  ThreadState& c = local;
  if (!c.head && !c.spare) return;
  std::lock_guard<std::mutex> g(sharedMutex);
  if (c.head) pushShared(c.head, c.count);
  if (c.spare) pushShared(c.spare, BATCH);
  c.head = c.spare = nullptr;
  c.count = 0;
}

void giveSpare() {
  ThreadState& c = local;
  std::lock_guard<std::mutex> g(sharedMutex);
  pushShared(c.spare, BATCH);
  c.spare = nullptr;
}

// Hands a thread's nodes to the shared list when the thread ends.
struct ThreadExit {
  ~ThreadExit() {
    ThreadState& c = local;
    while (c.bump && c.bump + sizeof(GameNode) <= c.bumpEnd) {
      release(reinterpret_cast<GameNode*>(c.bump));
      c.bump += sizeof(GameNode);
    }
    giveAll();
  }
};

// A node from this thread's own free list, else from the block it carves;
// null when both are empty.
inline GameNode* takeLocal(ThreadState& c) {
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
  return nullptr;
}

GameNode* refill() {
  static thread_local ThreadExit atExit;
  (void)atExit;
  ThreadState& c = local;
  {
    std::lock_guard<std::mutex> g(sharedMutex);
    if (FreeNode* b = sharedBatches) {
      sharedBatches = b->nextBatch;
      sharedCount -= b->count;
      c.head = b;
      c.count = b->count;
    }
  }
  if (GameNode* n = takeLocal(c)) return n;
  {
    // A block of the pool to carve again, in address order.
    std::lock_guard<std::mutex> g(sharedMutex);
    if (nextBlock < blocks.size()) {
      const Block& b = blocks[nextBlock++];
      c.bump = b.start + sizeof(GameNode);
      c.bumpEnd = b.start + b.nodes * sizeof(GameNode);
      return reinterpret_cast<GameNode*>(b.start);
    }
  }
  // A new block from the system, within the budget.
  std::size_t limit = budgetBytes();
  std::size_t used = reserved.load();
  std::size_t nodes = used == 0 ? FIRST_BLOCK_NODES : BLOCK_NODES;
  if (used + nodes * sizeof(GameNode) > limit) {
    nodes = used < limit ? (limit - used) / sizeof(GameNode) : 0;
  }
  if (nodes == 0) throw CMemoryException("node memory budget exhausted");
  {
    // Room to record the block, asked for before the block itself, so that
    // a refusal here cannot lose a block.
    std::lock_guard<std::mutex> g(sharedMutex);
    if (blocks.size() == blocks.capacity()) blocks.reserve(2 * blocks.size() + 16);
  }
  void* block = nodes == BLOCK_NODES ? takePreparedBlock() : nullptr;
  if (!block) block = mapBlock(nodes * sizeof(GameNode), false);
  if (!block)
    throw CMemoryException("the system refused " +
                           std::to_string((nodes * sizeof(GameNode) + (1 << 20) - 1) >> 20) +
                           " MiB for the game tree");
  reserved.fetch_add(nodes * sizeof(GameNode));
  {
    std::lock_guard<std::mutex> g(sharedMutex);
    // Among the carved ones: this thread carves it now.
    blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(nextBlock),
                  Block{static_cast<char*>(block), nodes});
    ++nextBlock;
    totalNodes += nodes;
  }
  c.bump = static_cast<char*>(block) + sizeof(GameNode);
  c.bumpEnd = static_cast<char*>(block) + nodes * sizeof(GameNode);
  return static_cast<GameNode*>(block);
}

}  // namespace

GameNode* allocate() {
  ThreadState& c = local;
  if (!c.head && c.spare) {
    c.head = c.spare;
    c.count = BATCH;
    c.spare = nullptr;
  }
  if (GameNode* n = takeLocal(c)) return n;
  return refill();
}

void release(GameNode* node) {
  ThreadState& c = local;
  auto* n = reinterpret_cast<FreeNode*>(node);
  n->next = c.head;
  c.head = n;
  if (++c.count == BATCH) {
    if (c.spare) giveSpare();
    c.spare = c.head;
    c.head = nullptr;
    c.count = 0;
  }
}

void flushThreadCache() { giveAll(); }

namespace {
// Slots neither in the shared list nor free in this thread's cache (sharedMutex held).
std::size_t takenSlots() {
  const ThreadState& c = local;
  const std::size_t uncarved =
      c.bump ? static_cast<std::size_t>(c.bumpEnd - c.bump) / sizeof(GameNode) : 0;
  std::size_t untouched = 0;  // blocks not carved again since the pool was last idle
  for (std::size_t i = nextBlock; i < blocks.size(); ++i) untouched += blocks[i].nodes;
  return totalNodes - sharedCount - c.count - (c.spare ? BATCH : 0) - uncarved - untouched;
}
}  // namespace

std::size_t liveNodes() {
  std::lock_guard<std::mutex> g(sharedMutex);
  return takenSlots();
}

bool recycleIfIdle() {
  ThreadState& c = local;
  std::lock_guard<std::mutex> g(sharedMutex);
  // Every slot is free and none sits in another thread's cache.
  if (takenSlots() != 0) return false;
  sharedBatches = nullptr;
  sharedCount = 0;
  c.head = c.spare = nullptr;
  c.count = 0;
  c.bump = c.bumpEnd = nullptr;
  nextBlock = 0;
  return true;
}

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
