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

}  // namespace

std::u16string formatArgs(std::u16string_view format, const FmtArg* args, std::size_t count) {
  std::u16string out;
  out.reserve(format.size() + 16);
  std::size_t next = 0;
  auto take = [&]() -> const FmtArg* { return next < count ? &args[next++] : nullptr; };

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
    // %[flags][width][.precision][length]conversion
    std::string directive = "%";
    bool left = false;
    std::size_t j = i + 1;
    while (j < format.size() && std::strchr("-+ #0", static_cast<char>(format[j])) &&
           format[j] < 128) {
      if (format[j] == u'-') left = true;
      directive.push_back(static_cast<char>(format[j++]));
    }
    int width = -1;
    if (j < format.size() && format[j] == u'*') {
      const FmtArg* a = take();
      width = a ? static_cast<int>(a->asSigned()) : 0;
      if (width < 0) {
        left = true;
        directive.push_back('-');
        width = -width;
      }
      ++j;
    } else {
      while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
        width = (width < 0 ? 0 : width * 10) + (format[j++] - u'0');
        if (width > 100000) width = 100000;
      }
    }
    if (width >= 0) directive += std::to_string(width);
    int precision = -1;
    if (j < format.size() && format[j] == u'.') {
      ++j;
      precision = 0;
      if (j < format.size() && format[j] == u'*') {
        const FmtArg* a = take();
        precision = a ? static_cast<int>(a->asSigned()) : 0;
        ++j;
      } else {
        while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
          precision = precision * 10 + (format[j++] - u'0');
          if (precision > 100000) precision = 100000;
        }
      }
      if (precision >= 0) directive += "." + std::to_string(precision);
    }
    // Length prefixes only tell the width of the argument, which FmtArg
    // already knows; skip them (I64, I32, I, ll, l, h, hh, z, j, t, L).
    while (j < format.size()) {
      char16_t c = format[j];
      if (c == u'I') {
        if (format.substr(j, 3) == u"I64" || format.substr(j, 3) == u"I32") {
          j += 3;
        } else {
          ++j;
        }
      } else if (c == u'l' || c == u'h' || c == u'z' || c == u'j' || c == u't' || c == u'L' ||
                 c == u'w') {
        ++j;
      } else {
        break;
      }
    }
    if (j >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    char16_t conv = format[j];
    char buf[512];
    switch (conv) {
      case u'%': out.push_back(u'%'); break;
      case u'd':
      case u'i': {
        const FmtArg* a = take();
        std::snprintf(buf, sizeof buf, (directive + "lld").c_str(), a ? a->asSigned() : 0LL);
        appendAscii(out, buf);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        const FmtArg* a = take();
        directive += "ll";
        directive.push_back(static_cast<char>(conv));
        std::snprintf(buf, sizeof buf, directive.c_str(), a ? a->asUnsigned() : 0ULL);
        appendAscii(out, buf);
        break;
      }
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
      case u'a':
      case u'A': {
        const FmtArg* a = take();
        directive.push_back(static_cast<char>(conv));
        std::snprintf(buf, sizeof buf, directive.c_str(), a ? a->asDouble() : 0.0);
        appendAscii(out, buf);
        break;
      }
      case u'c':
      case u'C': {
        const FmtArg* a = take();
        char16_t c = a ? static_cast<char16_t>(a->asUnsigned()) : u'\0';
        std::u16string body;
        if (c) body.push_back(c);
        pad(out, body, width, left);
        break;
      }
      case u's':
      case u'S': {
        const FmtArg* a = take();
        std::u16string_view body;
        if (a && a->kind() == FmtArg::Kind::Text) body = a->text();
        if (precision >= 0 && body.size() > static_cast<std::size_t>(precision))
          body = body.substr(0, precision);
        pad(out, body, width, left);
        break;
      }
      case u'p': {
        // Sixteen hex digits, as a 64-bit desktop prints a pointer.
        const FmtArg* a = take();
        std::snprintf(buf, sizeof buf, "%016llX",
                      static_cast<unsigned long long>(a ? a->asUnsigned() : 0));
        std::u16string body;
        for (char* p = buf; *p; ++p) body.push_back(static_cast<unsigned char>(*p));
        pad(out, body, width, left);
        break;
      }
      case u'n': take(); break;
      default:
        // Unknown conversion: keep it as written.
        out.append(format.substr(i, j - i + 1));
        break;
    }
    i = j;
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
