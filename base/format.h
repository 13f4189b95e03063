// printf-style formatting of 16-bit text.
//
// The system's messages are printf formats over wide text: %s takes a wide
// string, %c a character, %d/%u/%x integers (with the l, ll, h and I64
// length prefixes), %f/%e/%g doubles and %p a pointer. Arguments are
// captured with their types, so a wrong argument gives a wrong text, never
// undefined behaviour. Narrow strings (card strings, UTF-8) may be passed
// for %s and are widened.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace zelk {

class FmtArg {
 public:
  enum class Kind { Signed, Unsigned, Double, Text, Pointer };

  // clang-format 14 cannot lay out requires-clauses.
  // clang-format off
  template <class T>
    requires(std::is_integral_v<T> && std::is_signed_v<T> && !std::is_same_v<T, char> &&
             !std::is_same_v<T, bool>)
  FmtArg(T v) : kind_(Kind::Signed), bits_(sizeof(T) * 8), i_(v) {}
  template <class T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, char16_t> &&
             !std::is_same_v<T, bool>)
  FmtArg(T v) : kind_(Kind::Unsigned), bits_(sizeof(T) * 8), u_(v) {}
  // clang-format on
  FmtArg(bool v) : kind_(Kind::Signed), bits_(32), i_(v ? 1 : 0) {}
  // A plain char is a card character: its byte value, for %c or %d.
  FmtArg(char c) : kind_(Kind::Unsigned), bits_(8), u_(static_cast<unsigned char>(c)) {}
  FmtArg(char16_t c) : kind_(Kind::Unsigned), bits_(16), u_(c) {}
  FmtArg(double v) : kind_(Kind::Double), d_(v) {}
  FmtArg(float v) : kind_(Kind::Double), d_(v) {}
  FmtArg(const char16_t* s) : kind_(Kind::Text), text_(s ? s : u"(null)") {}
  FmtArg(const std::u16string& s) : kind_(Kind::Text), text_(s) {}
  FmtArg(std::u16string_view s) : kind_(Kind::Text), text_(s) {}
  FmtArg(const char* s);  // UTF-8 (card strings are ASCII)
  FmtArg(const std::string& s) : FmtArg(s.c_str()) {}
  FmtArg(const void* p) : kind_(Kind::Pointer), p_(p) {}
  FmtArg(std::nullptr_t) : kind_(Kind::Pointer), p_(nullptr) {}

  Kind kind() const { return kind_; }
  long long asSigned() const;
  // A negative signed argument reads as unsigned at its own width, as
  // %u or %x of an int -1 gives 4294967295 or ffffffff.
  unsigned long long asUnsigned() const;
  double asDouble() const;
  const std::u16string& text() const { return text_; }
  const void* pointer() const { return p_; }

 private:
  Kind kind_;
  int bits_ = 64;  // width of an integer argument
  union {
    long long i_;
    unsigned long long u_;
    double d_;
    const void* p_;
  };
  std::u16string text_;
};

// Formats without a length limit.
std::u16string formatArgs(std::u16string_view format, const FmtArg* args, std::size_t count);

template <class... A>
std::u16string formatText(std::u16string_view format, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return formatArgs(format, nullptr, 0);
  } else {
    const FmtArg list[] = {FmtArg(args)...};
    return formatArgs(format, list, sizeof...(A));
  }
}

// Cuts a formatted text to `limit` characters; a text that did not fit keeps
// its first `limit` characters and gets "\r\n" behind them.
std::u16string limitText(std::u16string text, std::size_t limit);

}  // namespace zelk
