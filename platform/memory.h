// Large blocks of memory straight from the system, for the node pool and
// the fast engine's table.
//
// Both are read at random all over: with 4 KiB pages nearly every access to
// a big block would also miss the TLB and walk the page tables. Blocks of
// 2 MiB and more therefore start on a 2 MiB boundary and ask for
// transparent huge pages. That is advice: where the system gives none the
// block works with small pages.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace zelk {

// Memory the system refused, or a budget of ours that would be exceeded: the
// node pool and the fast engine's table throw it, and the solving run reports
// it like any memory failure instead of letting the kernel kill the process.
class CMemoryException : public std::exception {
 public:
  explicit CMemoryException(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// Zero-filled memory of `bytes`, or nullptr when the system refuses it.
// populate: fault every page in now, in one go, instead of one fault per
// page at first use (and two where the first use is a read).
void* mapBlock(std::size_t bytes, bool populate);
// Faults in `bytes` of a block from `start` (a page boundary) now. False
// when the system has no memory for them; true also where the system cannot
// do it at once (the pages then fault in as they are used).
bool populateBlock(void* start, std::size_t bytes);
// Gives back a block of mapBlock with the same size.
void unmapBlock(void* block, std::size_t bytes);

}  // namespace zelk
