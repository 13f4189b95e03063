#include "base/format.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace zelk {

FmtArg::FmtArg(const char* s) : kind_(Kind::Text), text_(s ? utf8ToUtf16(s) : u"(null)") {}

long long FmtArg::asSigned() const {
  switch (kind_) {
    case Kind::Signed: return i_;
    case Kind::Unsigned: return static_cast<long long>(u_);
    case Kind::Double: return static_cast<long long>(d_);
    case Kind::Pointer: return static_cast<long long>(reinterpret_cast<std::uintptr_t>(p_));
    case Kind::Text: return 0;
  }
  return 0;
}

unsigned long long FmtArg::asUnsigned() const {
  switch (kind_) {
    case Kind::Signed: {
      auto v = static_cast<unsigned long long>(i_);
      return bits_ >= 64 ? v : v & ((1ull << bits_) - 1);
    }
    case Kind::Unsigned: return u_;
    case Kind::Double: return static_cast<unsigned long long>(d_);
    case Kind::Pointer: return reinterpret_cast<std::uintptr_t>(p_);
    case Kind::Text: return 0;
  }
  return 0;
}

double FmtArg::asDouble() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<double>(i_);
    case Kind::Unsigned: return static_cast<double>(u_);
    case Kind::Double: return d_;
    default: return 0.0;
  }
}

namespace {

void appendAscii(std::u16string& out, const char* s) {
  for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));
}

void pad(std::u16string& out, std::u16string_view body, int width, bool left) {
  int fill = width - static_cast<int>(body.size());
  if (left) out.append(body);
  for (int i = 0; i < fill; ++i) out.push_back(u' ');
  if (!left) out.append(body);
}

// Hands out the arguments in order; nullptr once they run out, so a format
// asking for more than it was given prints zeros and empty texts.
class ArgCursor {
 public:
  ArgCursor(const FmtArg* args, std::size_t count) : args_(args), count_(count) {}
  const FmtArg* take() { return next_ < count_ ? &args_[next_++] : nullptr; }

 private:
  const FmtArg* args_;
  std::size_t count_;
  std::size_t next_ = 0;
};

// One directive, %[flags][width][.precision][length]conversion, as far as
// its conversion: `printf` is what snprintf gets for the flags, width and
// precision; `end` is the index of the conversion character (or the size of
// the format when the directive is cut short).
struct Directive {
  std::string printf = "%";
  bool left = false;
  int width = -1;
  int precision = -1;
  std::size_t end = 0;
};

// Digits from `j` as a number no larger than 100,000 (snprintf's buffer cuts
// a wider field anyway).
int readNumber(std::u16string_view format, std::size_t& j, int start) {
  int n = start;
  while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
    n = n * 10 + (format[j++] - u'0');
    if (n > 100000) n = 100000;
  }
  return n;
}

// Parses the directive whose '%' is at `percent`; `*` takes its value from
// the arguments.
Directive parseDirective(std::u16string_view format, std::size_t percent, ArgCursor& args) {
  Directive d;
  std::size_t j = percent + 1;
  // 1. Flags.
  while (j < format.size() && format[j] < 128 &&
         std::strchr("-+ #0", static_cast<char>(format[j]))) {
    if (format[j] == u'-') d.left = true;
    d.printf.push_back(static_cast<char>(format[j++]));
  }
  // 2. Width; a negative one from the arguments means left-justified.
  if (j < format.size() && format[j] == u'*') {
    const FmtArg* a = args.take();
    d.width = a ? static_cast<int>(a->asSigned()) : 0;
    if (d.width < 0) {
      d.left = true;
      d.printf.push_back('-');
      d.width = -d.width;
    }
    ++j;
  } else if (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
    d.width = readNumber(format, j, 0);
  }
  if (d.width >= 0) d.printf += std::to_string(d.width);
  // 3. Precision.
  if (j < format.size() && format[j] == u'.') {
    ++j;
    if (j < format.size() && format[j] == u'*') {
      const FmtArg* a = args.take();
      d.precision = a ? static_cast<int>(a->asSigned()) : 0;
      ++j;
    } else {
      d.precision = readNumber(format, j, 0);
    }
    if (d.precision >= 0) {
      d.printf.push_back('.');
      d.printf += std::to_string(d.precision);
    }
  }
  // 4. Length prefixes only tell the width of the argument, which FmtArg
  // already knows; skip them (I64, I32, I, ll, l, h, hh, z, j, t, L).
  while (j < format.size()) {
    char16_t c = format[j];
    if (c == u'I') {
      j += (format.substr(j, 3) == u"I64" || format.substr(j, 3) == u"I32") ? 3 : 1;
    } else if (c == u'l' || c == u'h' || c == u'z' || c == u'j' || c == u't' || c == u'L' ||
               c == u'w') {
      ++j;
    } else {
      break;
    }
  }
  d.end = j;
  return d;
}

// Appends what a numeric conversion prints through snprintf.
template <class T>
void appendPrintf(std::u16string& out, const std::string& printf, T value) {
  char buf[512];
  std::snprintf(buf, sizeof buf, printf.c_str(), value);
  appendAscii(out, buf);
}

// Appends the conversion `conv` of directive `d`; false for an unknown
// conversion, which the caller keeps as written.
bool appendConversion(std::u16string& out, Directive d, char16_t conv, ArgCursor& args) {
  switch (conv) {
    case u'%': out.push_back(u'%'); return true;
    case u'd':
    case u'i': {
      const FmtArg* a = args.take();
      appendPrintf(out, d.printf + "lld", a ? a->asSigned() : 0LL);
      return true;
    }
    case u'u':
    case u'x':
    case u'X':
    case u'o': {
      const FmtArg* a = args.take();
      d.printf += "ll";
      d.printf.push_back(static_cast<char>(conv));
      appendPrintf(out, d.printf, a ? a->asUnsigned() : 0ULL);
      return true;
    }
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G':
    case u'a':
    case u'A': {
      const FmtArg* a = args.take();
      d.printf.push_back(static_cast<char>(conv));
      appendPrintf(out, d.printf, a ? a->asDouble() : 0.0);
      return true;
    }
    case u'c':
    case u'C': {
      const FmtArg* a = args.take();
      char16_t c = a ? static_cast<char16_t>(a->asUnsigned()) : u'\0';
      std::u16string body;
      if (c) body.push_back(c);
      pad(out, body, d.width, d.left);
      return true;
    }
    case u's':
    case u'S': {
      const FmtArg* a = args.take();
      std::u16string_view body;
      if (a && a->kind() == FmtArg::Kind::Text) body = a->text();
      if (d.precision >= 0 && body.size() > static_cast<std::size_t>(d.precision))
        body = body.substr(0, d.precision);
      pad(out, body, d.width, d.left);
      return true;
    }
    case u'p': {
      // Sixteen hex digits, as a 64-bit desktop prints a pointer.
      const FmtArg* a = args.take();
      std::u16string body;
      appendPrintf(body, "%016llX", static_cast<unsigned long long>(a ? a->asUnsigned() : 0));
      pad(out, body, d.width, d.left);
      return true;
    }
    case u'n': args.take(); return true;
    default: return false;
  }
}

}  // namespace

std::u16string formatArgs(std::u16string_view format, const FmtArg* args, std::size_t count) {
  std::u16string out;
  out.reserve(format.size() + 16);
  ArgCursor cursor(args, count);
  for (std::size_t i = 0; i < format.size(); ++i) {
    char16_t ch = format[i];
    if (ch != u'%') {
      out.push_back(ch);
      continue;
    }
    if (i + 1 >= format.size()) {
      out.push_back(ch);
      break;
    }
    Directive d = parseDirective(format, i, cursor);
    if (d.end >= format.size()) {
      out.append(format.substr(i));  // cut short: kept as written
      break;
    }
    if (!appendConversion(out, d, format[d.end], cursor))
      out.append(format.substr(i, d.end - i + 1));  // unknown conversion: kept as written
    i = d.end;
  }
  return out;
}

std::u16string limitText(std::u16string text, std::size_t limit) {
  if (text.size() > limit) {
    text.resize(limit);
    text += u"\r\n";
  }
  return text;
}

}  // namespace zelk
