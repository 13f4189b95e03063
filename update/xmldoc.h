// XmlDoc: one XML document held as UTF-16 text with an index of its elements.
//
// The update document is small and untrusted, so the reader is built to never
// stop and never recurse: a single linear scan records every element in a
// flat index of fixed-size records, notes each problem in `result`, marks the
// document ill-formed and carries on. Callers refuse ill-formed documents.
// Navigation walks sibling links only and moves forward only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelk {

// One element of the index. Record 0 stands for the document: its first
// child is the first top-level element. A link of 0 means "none".
struct ElementRecord {
  int32_t start = 0;        // offset of the element's "<"
  int32_t length = 0;       // start tag to end of end tag (start tag alone when it has none)
  uint32_t tagLengths = 0;  // start-tag length (low 22 bits), end-tag length (high 10 bits)
  uint32_t flags = 0;       // level in the low 16 bits, plus the ELEMENT_ flags
  uint32_t parent = 0;
  uint32_t firstChild = 0;
  uint32_t next = 0;
  uint32_t prev = 0;  // the first child's prev points to the last child
};

inline constexpr uint32_t ELEMENT_LEVEL_MASK = 0xFFFF;
inline constexpr uint32_t ELEMENT_FIRST = 0x80000;       // first child of its parent
inline constexpr uint32_t ELEMENT_UNENDED = 0x100000;    // no end tag of its own
inline constexpr uint32_t ELEMENT_ILLFORMED = 0x800000;  // on record 0: the document is ill-formed

class XmlDoc {
 public:
  // Option bit: element names compare without regard to ASCII case.
  static constexpr uint32_t IGNORE_CASE = 8;
  // Problems stop being listed in `result` once it holds more than this.
  static constexpr std::size_t RESULT_LIMIT = 999;
  static constexpr uint32_t SEGMENT_RECORDS = 65536;

  XmlDoc();

  // Replaces the document. True only for a well-formed document with exactly
  // one top-level element.
  bool LoadText(std::u16string text);

  // Searches forward among the siblings after the current element (or from
  // the current parent's first child when there is none) for the next element
  // of that name. On failure the position is unchanged.
  bool FindElement(std::u16string_view name);
  // The same for the next element of any name.
  bool FindElement();
  void EnterElement();
  void LeaveElement();

  // Character data of the current element: references decoded, CDATA
  // verbatim; empty for an empty element or one with child elements.
  std::u16string ElementData() const;
  // Name of the current element (empty when there is none).
  std::u16string ElementName() const;

  const std::u16string& result() const { return result_; }
  const std::u16string& text() const { return text_; }
  bool wellFormed() const;

  uint32_t flags = 0;  // option bits (IGNORE_CASE)

  // The index, for checks of its structure.
  uint32_t recordCount() const { return count_; }
  const ElementRecord& record(uint32_t index) const { return at(index); }
  uint32_t startTagLength(uint32_t index) const;
  uint32_t endTagLength(uint32_t index) const;
  uint32_t currentElement() const { return elem_; }
  uint32_t currentParent() const { return parent_; }
  uint32_t currentChild() const { return child_; }

 private:
  struct Node;
  struct OpenElement {
    uint32_t index;
    std::u16string_view name;
  };

  ElementRecord& at(uint32_t index) {
    return segments_[index >> 16][index & (SEGMENT_RECORDS - 1)];
  }
  const ElementRecord& at(uint32_t index) const {
    return segments_[index >> 16][index & (SEGMENT_RECORDS - 1)];
  }
  void reserveRecords(uint32_t count);
  uint32_t appendRecord();
  void setTagLengths(uint32_t index, uint32_t startTag, uint32_t endTag);

  void scan();
  static Node scanNode(std::u16string_view text, std::size_t pos, XmlDoc* reporter);
  static std::size_t skipDoctype(std::u16string_view text, std::size_t pos, XmlDoc* reporter);
  static std::size_t faultEnd(std::u16string_view text, std::size_t pos);
  static void syntaxProblem(XmlDoc* reporter, std::u16string_view name, std::size_t offset);
  static void unterminated(XmlDoc* reporter, std::u16string_view type, std::size_t offset);
  void closeUnended(std::vector<OpenElement>& stack, std::size_t keep, uint32_t cutAt);
  void fixLevels();
  bool find(const std::u16string_view* name);

  std::u16string_view nameAt(std::size_t pos) const;
  bool namesEqual(std::u16string_view a, std::u16string_view b) const;

  void addResult(std::u16string_view name,
                 std::initializer_list<std::pair<std::u16string_view, std::u16string>> attributes);
  void markIllFormed() { at(0).flags |= ELEMENT_ILLFORMED; }

  std::u16string text_;
  std::u16string result_;
  std::vector<std::unique_ptr<ElementRecord[]>> segments_;
  std::vector<uint32_t> segmentSizes_;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  // Exact tag lengths of the rare tags too long for the packed fields.
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> longTags_;
  uint32_t elem_ = 0;
  uint32_t parent_ = 0;
  uint32_t child_ = 0;
};

// Decodes character and entity references ("&amp;", "&#65;", "&#x42;", the
// HTML 4 names and "apos"); anything that is not a known reference stays as it is.
std::u16string decodeReferences(std::u16string_view text);

// Code point of an entity name (folded to lower case), or 0 when unknown.
uint32_t entityCodePoint(std::u16string_view name);
// Number of entries of the entity table.
int entityCount();

}  // namespace zelk
