#include "update/xmldoc.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace zelk {

namespace {

constexpr uint32_t START_TAG_MAX = 0x3FFFFF;  // 22 bits
constexpr uint32_t END_TAG_MAX = 0x3FF;       // 10 bits
constexpr uint32_t LONG_TAGS = 0xFFFFFFFF;    // packed word of a tag kept in the side table
constexpr std::size_t NPOS = std::u16string_view::npos;

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool isNameStart(char16_t c) {
  return c == u':' || c == u'_' || (c >= u'A' && c <= u'Z') || c >= u'a';
}

bool endsName(char16_t c) { return isSpace(c) || c == u'/' || c == u'>'; }

char16_t foldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

std::u16string number(std::size_t n) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n);
  return s;
}

void appendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

// Value of a folded "#..." reference, or 0 when it is not a number.
uint32_t numericReference(std::u16string_view name) {
  bool hex = name.size() > 1 && name[1] == u'x';
  std::size_t i = hex ? 2 : 1;
  if (i >= name.size()) return 0;
  uint32_t value = 0;  // at most 8 digits: no overflow
  for (; i < name.size(); ++i) {
    char16_t c = name[i];
    uint32_t digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (hex && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else {
      return 0;
    }
    value = value * (hex ? 16 : 10) + digit;
  }
  return value;
}

}  // namespace

enum class NodeKind {
  End,
  StartTag,
  EndTag,
  ProcessingInstruction,
  Comment,
  Cdata,
  Doctype,
  Whitespace,
  Text,
  Fault
};

struct XmlDoc::Node {
  NodeKind kind;
  std::size_t start;
  std::size_t length;
  bool empty;  // a start tag ending in "/>"
};

XmlDoc::XmlDoc() {
  reserveRecords(8);
  at(0) = ElementRecord{};
  count_ = 1;
}

// ---------------------------------------------------------------------------
// The record array: segments of SEGMENT_RECORDS, the last one possibly short.

void XmlDoc::reserveRecords(uint32_t wanted) {
  if (wanted <= capacity_) return;
  for (uint32_t k = 0; static_cast<uint64_t>(k) * SEGMENT_RECORDS < wanted; ++k) {
    uint32_t need = static_cast<uint32_t>(
        std::min<uint64_t>(SEGMENT_RECORDS, wanted - static_cast<uint64_t>(k) * SEGMENT_RECORDS));
    if (k < segments_.size()) {
      if (segmentSizes_[k] >= need) continue;
      auto grown = std::make_unique<ElementRecord[]>(need);
      std::copy(segments_[k].get(), segments_[k].get() + segmentSizes_[k], grown.get());
      segments_[k] = std::move(grown);
      segmentSizes_[k] = need;
    } else {
      segments_.push_back(std::make_unique<ElementRecord[]>(need));
      segmentSizes_.push_back(need);
    }
  }
  capacity_ = wanted;
}

uint32_t XmlDoc::appendRecord() {
  if (count_ == capacity_) reserveRecords(capacity_ + std::max<uint32_t>(1, capacity_ / 2));
  at(count_) = ElementRecord{};
  return count_++;
}

void XmlDoc::setTagLengths(uint32_t index, uint32_t startTag, uint32_t endTag) {
  if (startTag <= START_TAG_MAX && endTag <= END_TAG_MAX &&
      !(startTag == START_TAG_MAX && endTag == END_TAG_MAX)) {
    at(index).tagLengths = startTag | (endTag << 22);
    if (!longTags_.empty()) longTags_.erase(index);
  } else {
    // Too long for the packed word: a 4 MB start tag or a 1 KB end tag.
    at(index).tagLengths = LONG_TAGS;
    longTags_[index] = {startTag, endTag};
  }
}

uint32_t XmlDoc::startTagLength(uint32_t index) const {
  uint32_t packed = at(index).tagLengths;
  if (packed == LONG_TAGS) {
    auto it = longTags_.find(index);
    if (it != longTags_.end()) return it->second.first;
  }
  return packed & START_TAG_MAX;
}

uint32_t XmlDoc::endTagLength(uint32_t index) const {
  uint32_t packed = at(index).tagLengths;
  if (packed == LONG_TAGS) {
    auto it = longTags_.find(index);
    if (it != longTags_.end()) return it->second.second;
  }
  return packed >> 22;
}

// ---------------------------------------------------------------------------
// Problems.

void XmlDoc::addResult(
    std::u16string_view name,
    std::initializer_list<std::pair<std::u16string_view, std::u16string>> attributes) {
  if (result_.size() > RESULT_LIMIT) return;
  result_ += u'<';
  result_ += name;
  for (const auto& [key, value] : attributes) {
    result_ += u' ';
    result_ += key;
    result_ += u"=\"";
    for (char16_t c : value) {
      switch (c) {
        case u'&': result_ += u"&amp;"; break;
        case u'<': result_ += u"&lt;"; break;
        case u'>': result_ += u"&gt;"; break;
        case u'"': result_ += u"&quot;"; break;
        case u'\'': result_ += u"&apos;"; break;
        default: result_ += c;
      }
    }
    result_ += u'"';
  }
  result_ += u"/>";
}

// ---------------------------------------------------------------------------
// The scanner. With a reporter it lists the problems it meets; without one
// (when element data is read) it only tells the nodes apart.

std::size_t XmlDoc::faultEnd(std::u16string_view text, std::size_t pos) {
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == u'>') return i + 1;
    if (text[i] == u'<') return i;
  }
  return text.size();
}

void XmlDoc::syntaxProblem(XmlDoc* reporter, std::u16string_view name, std::size_t offset) {
  if (!reporter) return;
  reporter->addResult(name, {{u"offset", number(offset)}});
  reporter->markIllFormed();
}

void XmlDoc::unterminated(XmlDoc* reporter, std::u16string_view type, std::size_t offset) {
  if (!reporter) return;
  reporter->addResult(u"unterminated_tag_syntax",
                      {{u"type", std::u16string(type)}, {u"offset", number(offset)}});
  reporter->markIllFormed();
}

XmlDoc::Node XmlDoc::scanNode(std::u16string_view t, std::size_t p, XmlDoc* reporter) {
  const std::size_t n = t.size();
  if (p >= n) return {NodeKind::End, p, 0, false};
  auto node = [&](NodeKind kind, std::size_t end) { return Node{kind, p, end - p, false}; };
  auto unended = [&](std::u16string_view type) {
    unterminated(reporter, type, p);
    return node(NodeKind::Fault, n);
  };
  auto fault = [&](std::u16string_view problem) {
    syntaxProblem(reporter, problem, p);
    return node(NodeKind::Fault, faultEnd(t, p));
  };

  if (t[p] != u'<') {
    bool blank = true;
    std::size_t i = p;
    for (; i < n && t[i] != u'<'; ++i) {
      if (!isSpace(t[i])) blank = false;
    }
    return node(blank ? NodeKind::Whitespace : NodeKind::Text, i);
  }
  if (p + 1 >= n) return unended(u"tag");
  char16_t c1 = t[p + 1];
  if (c1 == u'/') {
    std::size_t gt = t.find(u'>', p + 2);
    return gt == NPOS ? unended(u"end_tag") : node(NodeKind::EndTag, gt + 1);
  }
  if (c1 == u'?') {
    std::size_t e = t.find(u"?>", p + 2);
    return e == NPOS ? unended(u"processing_instruction")
                     : node(NodeKind::ProcessingInstruction, e + 2);
  }
  if (c1 == u'!') {
    if (p + 2 >= n) return unended(u"tag");
    char16_t c2 = t[p + 2];
    if (c2 == u'-') {
      if (p + 3 >= n) return unended(u"tag");
      if (t[p + 3] != u'-') return fault(u"comment_tag_syntax");
      std::size_t e = t.find(u"-->", p + 4);
      return e == NPOS ? unended(u"comment") : node(NodeKind::Comment, e + 3);
    }
    if (c2 == u'[') {
      if (p + 3 >= n) return unended(u"tag");
      if (t[p + 3] != u'C') return fault(u"cdata_section_syntax");
      std::size_t e = t.find(u"]]>", p + 4);
      return e == NPOS ? unended(u"cdata_section") : node(NodeKind::Cdata, e + 3);
    }
    if (c2 == u'D') {
      std::size_t end = skipDoctype(t, p, reporter);
      return end == NPOS ? unended(u"document_type") : node(NodeKind::Doctype, end);
    }
    return fault(u"exclamation_tag_syntax");
  }
  if (!isNameStart(c1)) return fault(u"first_tag_syntax");

  // Start tag: the first ">" outside a quoted attribute value.
  bool afterEquals = false;
  std::size_t i = p + 1;
  for (; i < n && t[i] != u'>'; ++i) {
    char16_t c = t[i];
    if (c == u'=') {
      afterEquals = true;
    } else if ((c == u'"' || c == u'\'') && afterEquals) {
      std::size_t q = t.find(c, i + 1);
      if (q == NPOS) return unended(u"start_tag");
      i = q;
      afterEquals = false;
    } else if (!isSpace(c)) {
      afterEquals = false;
    }
  }
  if (i >= n) return unended(u"start_tag");
  Node tag = node(NodeKind::StartTag, i + 1);
  tag.empty = t[i - 1] == u'/';
  return tag;
}

// A document type declaration: ends at the first ">" at its own level, with
// declarations, comments, processing instructions and tags inside it skipped
// whole. NPOS when the text ends inside it.
std::size_t XmlDoc::skipDoctype(std::u16string_view t, std::size_t p, XmlDoc* reporter) {
  const std::size_t n = t.size();
  auto skipQuoted = [&](std::size_t i) {  // i at a quote; the position after its closing quote
    std::size_t q = t.find(t[i], i + 1);
    return q == NPOS ? n : q + 1;
  };
  std::size_t i = p + 3;
  while (i < n) {
    char16_t c = t[i];
    if (c == u'>') return i + 1;
    if (c == u'"' || c == u'\'') {
      i = skipQuoted(i);
      continue;
    }
    if (c != u'<') {
      ++i;
      continue;
    }
    if (i + 1 >= n) break;
    char16_t c1 = t[i + 1];
    if (c1 == u'?') {
      std::size_t e = t.find(u"?>", i + 2);
      i = e == NPOS ? n : e + 2;
    } else if (c1 != u'!') {
      std::size_t e = t.find(u'>', i + 1);
      i = e == NPOS ? n : e + 1;
    } else if (i + 2 >= n) {
      break;
    } else if (char16_t c2 = t[i + 2]; c2 == u'-') {
      if (i + 3 >= n) break;
      if (t[i + 3] != u'-') {
        syntaxProblem(reporter, u"comment_tag_syntax", i);
        i = faultEnd(t, i);
      } else {
        std::size_t e = t.find(u"-->", i + 4);
        i = e == NPOS ? n : e + 3;
      }
    } else if (c2 == u'A' || c2 == u'E' || c2 == u'N') {
      std::size_t j = i + 3;
      while (j < n && t[j] != u'>') j = (t[j] == u'"' || t[j] == u'\'') ? skipQuoted(j) : j + 1;
      i = j < n ? j + 1 : n;
    } else {
      syntaxProblem(reporter, u"doctype_tag_syntax", i);
      i = faultEnd(t, i);
    }
  }
  return NPOS;
}

// ---------------------------------------------------------------------------
// Building the index.

std::u16string_view XmlDoc::nameAt(std::size_t pos) const {
  std::u16string_view t(text_);
  std::size_t end = pos;
  while (end < t.size() && !endsName(t[end])) ++end;
  return t.substr(pos, end - pos);
}

bool XmlDoc::namesEqual(std::u16string_view a, std::u16string_view b) const {
  if (a.size() != b.size()) return false;
  if (!(flags & IGNORE_CASE)) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

bool XmlDoc::LoadText(std::u16string text) {
  text_ = std::move(text);
  result_.clear();
  longTags_.clear();
  elem_ = parent_ = child_ = 0;
  at(0) = ElementRecord{};
  count_ = 1;
  // Offsets are 32-bit signed; a text beyond that is refused unread.
  if (text_.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return false;
  scan();
  return wellFormed();
}

bool XmlDoc::wellFormed() const {
  const ElementRecord& doc = at(0);
  return !(doc.flags & ELEMENT_ILLFORMED) && doc.firstChild != 0 && at(doc.firstChild).next == 0;
}

void XmlDoc::scan() {
  const std::u16string_view t(text_);
  reserveRecords(static_cast<uint32_t>(t.size() / 64 + 8));
  std::vector<OpenElement> stack;
  stack.reserve(7);
  bool moved = false;

  std::size_t pos = 0;
  while (pos < t.size()) {
    Node node = scanNode(t, pos, this);
    pos = node.start + node.length;
    if (node.kind == NodeKind::StartTag) {
      uint32_t parent = stack.empty() ? 0 : stack.back().index;
      uint32_t index = appendRecord();
      ElementRecord& rec = at(index);
      rec.start = static_cast<int32_t>(node.start);
      rec.length = static_cast<int32_t>(node.length);
      rec.parent = parent;
      rec.flags = static_cast<uint32_t>(std::min<std::size_t>(stack.size(), ELEMENT_LEVEL_MASK));
      setTagLengths(index, static_cast<uint32_t>(node.length), 0);
      ElementRecord& up = at(parent);
      if (up.firstChild == 0) {
        up.firstChild = index;
        rec.prev = index;
        rec.flags |= ELEMENT_FIRST;
      } else {
        uint32_t last = at(up.firstChild).prev;
        at(last).next = index;
        rec.prev = last;
        at(up.firstChild).prev = index;
      }
      if (!node.empty) {
        if (stack.size() == stack.capacity()) stack.reserve(stack.capacity() * 2);
        stack.push_back({index, nameAt(node.start + 1)});
      }
    } else if (node.kind == NodeKind::EndTag) {
      std::u16string_view name = nameAt(node.start + 2);
      std::size_t k = stack.size();
      while (k > 0 && !namesEqual(stack[k - 1].name, name)) --k;
      if (k == 0) {
        addResult(u"lone_end_tag",
                  {{u"tagname", std::u16string(name)}, {u"offset", number(node.start)}});
        markIllFormed();
        continue;
      }
      if (k < stack.size()) {
        closeUnended(stack, k, static_cast<uint32_t>(node.start + 1));
        moved = true;
      }
      uint32_t index = stack.back().index;
      ElementRecord& rec = at(index);
      rec.length = static_cast<int32_t>(node.start + node.length - rec.start);
      setTagLengths(index, startTagLength(index), static_cast<uint32_t>(node.length));
      stack.pop_back();
    }
  }
  if (!stack.empty()) {
    closeUnended(stack, 0, static_cast<uint32_t>(t.size()));
    moved = true;
  }
  if (moved) fixLevels();

  uint32_t root = at(0).firstChild;
  if (root == 0) {
    if (!t.empty()) addResult(u"no_root_element", {});
  } else if (at(root).next != 0) {
    addResult(u"root_has_sibling", {});
  }
}

// The open elements stack[keep..] have no end tag: each keeps only its start
// tag and hands its children to its parent, right after itself. Working from
// the outermost one in, each is the last child of its parent when its turn
// comes, so every move is a splice at the end of a sibling list.
void XmlDoc::closeUnended(std::vector<OpenElement>& stack, std::size_t keep, uint32_t cutAt) {
  for (std::size_t k = stack.size(); k > keep; --k) {
    const ElementRecord& rec = at(stack[k - 1].index);
    addResult(u"unended_start_tag", {{u"tagname", std::u16string(stack[k - 1].name)},
                                     {u"offset", number(static_cast<std::size_t>(rec.start))},
                                     {u"offset2", number(cutAt)}});
  }
  markIllFormed();
  for (std::size_t k = keep; k < stack.size(); ++k) {
    uint32_t index = stack[k].index;
    ElementRecord& rec = at(index);
    uint32_t startTag = startTagLength(index);
    rec.flags |= ELEMENT_UNENDED;
    rec.length = static_cast<int32_t>(startTag);
    setTagLengths(index, startTag, 0);
    uint32_t first = rec.firstChild;
    if (first == 0) continue;
    uint32_t parent = rec.parent;
    uint32_t last = at(first).prev;
    uint32_t parentFirst = at(parent).firstChild;
    assert(at(parentFirst).prev == index);
    rec.firstChild = 0;
    rec.next = first;
    at(first).prev = index;
    at(first).flags &= ~ELEMENT_FIRST;
    at(parentFirst).prev = last;
    for (uint32_t c = first; c != 0; c = at(c).next) at(c).parent = parent;
  }
  stack.resize(keep);
}

// Parents always precede their children in the array, moved or not, so one
// pass in index order settles every level.
void XmlDoc::fixLevels() {
  for (uint32_t i = 1; i < count_; ++i) {
    ElementRecord& rec = at(i);
    uint32_t level = rec.parent == 0 ? 0 : (at(rec.parent).flags & ELEMENT_LEVEL_MASK) + 1;
    rec.flags = (rec.flags & ~ELEMENT_LEVEL_MASK) | std::min(level, ELEMENT_LEVEL_MASK);
  }
}

// ---------------------------------------------------------------------------
// Navigation.

bool XmlDoc::FindElement(std::u16string_view name) { return find(&name); }
bool XmlDoc::FindElement() { return find(nullptr); }

bool XmlDoc::find(const std::u16string_view* name) {
  if (count_ <= 1) return false;
  uint32_t i = elem_ ? at(elem_).next : at(parent_).firstChild;
  for (; i != 0; i = at(i).next) {
    if (!name || namesEqual(nameAt(static_cast<std::size_t>(at(i).start) + 1), *name)) {
      elem_ = i;
      child_ = 0;
      return true;
    }
  }
  return false;
}

void XmlDoc::EnterElement() {
  if (elem_ == 0) return;
  parent_ = elem_;
  elem_ = 0;
  child_ = 0;
}

void XmlDoc::LeaveElement() {
  if (parent_ == 0) return;
  child_ = elem_;
  elem_ = parent_;
  parent_ = at(parent_).parent;
}

std::u16string XmlDoc::ElementName() const {
  if (elem_ == 0) return {};
  return std::u16string(nameAt(static_cast<std::size_t>(at(elem_).start) + 1));
}

std::u16string XmlDoc::ElementData() const {
  if (elem_ == 0) return {};
  const ElementRecord& rec = at(elem_);
  if (rec.firstChild != 0) return {};
  std::size_t endTag = endTagLength(elem_);
  if (endTag == 0) return {};  // empty element, or one without an end tag
  std::size_t from = static_cast<std::size_t>(rec.start) + startTagLength(elem_);
  std::size_t to =
      static_cast<std::size_t>(rec.start) + static_cast<std::size_t>(rec.length) - endTag;
  if (to <= from) return {};
  std::u16string_view content = std::u16string_view(text_).substr(from, to - from);
  if (content.find(u'<') == NPOS) return decodeReferences(content);

  std::u16string out;
  std::size_t pos = 0;
  while (pos < content.size()) {
    Node node = scanNode(content, pos, nullptr);
    if (node.kind == NodeKind::Text) {
      out += decodeReferences(content.substr(node.start, node.length));
    } else if (node.kind == NodeKind::Cdata && node.length >= 12) {
      out += content.substr(node.start + 9, node.length - 12);  // between "<![CDATA[" and "]]>"
    }
    pos = node.start + node.length;
  }
  return out;
}

// ---------------------------------------------------------------------------
// References.

std::u16string decodeReferences(std::u16string_view t) {
  std::u16string out;
  out.reserve(t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    char16_t c = t[i];
    if (c != u'&') {
      out.push_back(c);
      ++i;
      continue;
    }
    // 1 to 9 ASCII characters, then ";".
    std::size_t j = i + 1;
    while (j < t.size() && j <= i + 10 && t[j] != u';' && t[j] < 0x80) ++j;
    std::size_t len = j - i - 1;
    if (j < t.size() && t[j] == u';' && len >= 1 && len <= 9) {
      char16_t name[9];
      for (std::size_t k = 0; k < len; ++k) name[k] = foldAscii(t[i + 1 + k]);
      std::u16string_view folded(name, len);
      uint32_t cp = folded[0] == u'#' ? numericReference(folded) : entityCodePoint(folded);
      // Past U+10FFFF there is no character to write: the text stays as it is.
      if (cp != 0 && cp <= 0x10FFFF) {
        appendCodePoint(out, cp);
        i = j + 1;
        continue;
      }
    }
    out.push_back(u'&');
    ++i;
  }
  return out;
}

}  // namespace zelk
