// Fuzz target for the XML reader: any text loads without a crash, the index
// it builds is a consistent tree, and every element can be walked and read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"
#include "update/xmldoc.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Every record is reached exactly once from record 0 through child and
// sibling links, and the back links agree with the forward ones.
void checkIndex(const zelk::XmlDoc& doc) {
  const uint32_t count = doc.recordCount();
  std::vector<uint8_t> seen(count, 0);
  std::vector<uint32_t> parents{0};
  uint32_t visited = 1;
  while (!parents.empty()) {
    uint32_t parent = parents.back();
    parents.pop_back();
    uint32_t first = doc.record(parent).firstChild;
    if (first == 0) continue;
    check(first < count);
    check(doc.record(first).flags & zelk::ELEMENT_FIRST);
    uint32_t prev = doc.record(first).prev;  // the last child
    uint32_t last = 0;
    for (uint32_t i = first; i != 0; i = doc.record(i).next) {
      check(i < count && !seen[i]);
      seen[i] = 1;
      ++visited;
      const zelk::ElementRecord& rec = doc.record(i);
      check(rec.parent == parent);
      check(i == first || !(rec.flags & zelk::ELEMENT_FIRST));
      if (i != first) check(rec.prev == last);
      uint32_t level = parent == 0 ? 0 : (doc.record(parent).flags & zelk::ELEMENT_LEVEL_MASK) + 1;
      check((rec.flags & zelk::ELEMENT_LEVEL_MASK) == std::min<uint32_t>(level, 0xFFFF));
      check(rec.start >= 0 && rec.length > 0);
      check(static_cast<std::size_t>(rec.start) + static_cast<std::size_t>(rec.length) <=
            doc.text().size());
      check(doc.startTagLength(i) + doc.endTagLength(i) <= static_cast<uint32_t>(rec.length));
      check(doc.text()[static_cast<std::size_t>(rec.start)] == u'<');
      if (parent != 0) {
        const zelk::ElementRecord& up = doc.record(parent);
        check(rec.start > up.start && rec.start + rec.length <= up.start + up.length);
      }
      parents.push_back(i);
      last = i;
    }
    check(prev == last);
  }
  check(visited == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the encoding of the rest and the name comparison.
  uint8_t mode = data[0];
  std::u16string text;
  if (mode & 1) {
    for (size_t i = 1; i + 1 < size; i += 2)
      text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    text = zelk::utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  }
  zelk::XmlDoc doc;
  doc.flags = (mode & 2) ? zelk::XmlDoc::IGNORE_CASE : 0;
  bool wellFormed = doc.LoadText(text);
  check(wellFormed == doc.wellFormed());
  checkIndex(doc);

  // Walk every element depth first through the public navigation.
  uint32_t walked = 0;
  int depth = 0;
  for (;;) {
    if (doc.FindElement()) {
      ++walked;
      std::u16string data = doc.ElementData();
      std::u16string name = doc.ElementName();
      check(!name.empty());
      check(data.size() <= doc.text().size());
      doc.EnterElement();
      ++depth;
      continue;
    }
    if (depth == 0) break;
    doc.LeaveElement();
    --depth;
  }
  check(walked + 1 == doc.recordCount());
  return 0;
}
