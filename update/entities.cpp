// The named character references of HTML 4 plus "apos", for the XML reader.
//
// Names are stored folded to lower case, so the few HTML names that differ
// only in case (Oslash/oslash, Dagger/dagger, hArr/harr, ...) share a name
// here. Each such pair lists the entry of the name with the capital letter
// first, and the first entry in chain order wins: both spellings give the
// capital's character. Every other name gives its own.
#include <array>
#include <cstdint>
#include <string_view>

#include "update/xmldoc.h"

namespace zelk {

namespace {

struct Entity {
  std::u16string_view name;
  uint32_t codePoint;
};

// clang-format off
constexpr Entity ENTITIES[] = {
    // XML's own, and the markup-significant characters of HTML.
    {u"quot", 34}, {u"amp", 38}, {u"apos", 39}, {u"lt", 60}, {u"gt", 62},
    // Latin extended and spacing modifiers; the capital Y with diaeresis goes
    // ahead of the small one further down.
    {u"oelig", 338}, {u"oelig", 339}, {u"scaron", 352}, {u"scaron", 353}, {u"yuml", 376},
    {u"fnof", 402}, {u"circ", 710}, {u"tilde", 732},
    // Latin-1.
    {u"nbsp", 160}, {u"iexcl", 161}, {u"cent", 162}, {u"pound", 163}, {u"curren", 164},
    {u"yen", 165}, {u"brvbar", 166}, {u"sect", 167}, {u"uml", 168}, {u"copy", 169},
    {u"ordf", 170}, {u"laquo", 171}, {u"not", 172}, {u"shy", 173}, {u"reg", 174},
    {u"macr", 175}, {u"deg", 176}, {u"plusmn", 177}, {u"sup2", 178}, {u"sup3", 179},
    {u"acute", 180}, {u"micro", 181}, {u"para", 182}, {u"middot", 183}, {u"cedil", 184},
    {u"sup1", 185}, {u"ordm", 186}, {u"raquo", 187}, {u"frac14", 188}, {u"frac12", 189},
    {u"frac34", 190}, {u"iquest", 191}, {u"agrave", 192}, {u"aacute", 193}, {u"acirc", 194},
    {u"atilde", 195}, {u"auml", 196}, {u"aring", 197}, {u"aelig", 198}, {u"ccedil", 199},
    {u"egrave", 200}, {u"eacute", 201}, {u"ecirc", 202}, {u"euml", 203}, {u"igrave", 204},
    {u"iacute", 205}, {u"icirc", 206}, {u"iuml", 207}, {u"eth", 208}, {u"ntilde", 209},
    {u"ograve", 210}, {u"oacute", 211}, {u"ocirc", 212}, {u"otilde", 213}, {u"ouml", 214},
    {u"times", 215}, {u"oslash", 216}, {u"ugrave", 217}, {u"uacute", 218}, {u"ucirc", 219},
    {u"uuml", 220}, {u"yacute", 221}, {u"thorn", 222}, {u"szlig", 223}, {u"agrave", 224},
    {u"aacute", 225}, {u"acirc", 226}, {u"atilde", 227}, {u"auml", 228}, {u"aring", 229},
    {u"aelig", 230}, {u"ccedil", 231}, {u"egrave", 232}, {u"eacute", 233}, {u"ecirc", 234},
    {u"euml", 235}, {u"igrave", 236}, {u"iacute", 237}, {u"icirc", 238}, {u"iuml", 239},
    {u"eth", 240}, {u"ntilde", 241}, {u"ograve", 242}, {u"oacute", 243}, {u"ocirc", 244},
    {u"otilde", 245}, {u"ouml", 246}, {u"divide", 247}, {u"oslash", 248}, {u"ugrave", 249},
    {u"uacute", 250}, {u"ucirc", 251}, {u"uuml", 252}, {u"yacute", 253}, {u"thorn", 254},
    {u"yuml", 255},
    // Greek.
    {u"alpha", 913}, {u"beta", 914}, {u"gamma", 915}, {u"delta", 916}, {u"epsilon", 917},
    {u"zeta", 918}, {u"eta", 919}, {u"theta", 920}, {u"iota", 921}, {u"kappa", 922},
    {u"lambda", 923}, {u"mu", 924}, {u"nu", 925}, {u"xi", 926}, {u"omicron", 927},
    {u"pi", 928}, {u"rho", 929}, {u"sigma", 931}, {u"tau", 932}, {u"upsilon", 933},
    {u"phi", 934}, {u"chi", 935}, {u"psi", 936}, {u"omega", 937},
    {u"alpha", 945}, {u"beta", 946}, {u"gamma", 947}, {u"delta", 948}, {u"epsilon", 949},
    {u"zeta", 950}, {u"eta", 951}, {u"theta", 952}, {u"iota", 953}, {u"kappa", 954},
    {u"lambda", 955}, {u"mu", 956}, {u"nu", 957}, {u"xi", 958}, {u"omicron", 959},
    {u"pi", 960}, {u"rho", 961}, {u"sigmaf", 962}, {u"sigma", 963}, {u"tau", 964},
    {u"upsilon", 965}, {u"phi", 966}, {u"chi", 967}, {u"psi", 968}, {u"omega", 969},
    {u"thetasym", 977}, {u"upsih", 978}, {u"piv", 982},
    // General punctuation; the capital forms (Dagger, Prime) first.
    {u"ensp", 8194}, {u"emsp", 8195}, {u"thinsp", 8201}, {u"zwnj", 8204}, {u"zwj", 8205},
    {u"lrm", 8206}, {u"rlm", 8207}, {u"ndash", 8211}, {u"mdash", 8212}, {u"lsquo", 8216},
    {u"rsquo", 8217}, {u"sbquo", 8218}, {u"ldquo", 8220}, {u"rdquo", 8221}, {u"bdquo", 8222},
    {u"dagger", 8225}, {u"dagger", 8224}, {u"bull", 8226}, {u"hellip", 8230},
    {u"permil", 8240}, {u"prime", 8243}, {u"prime", 8242}, {u"lsaquo", 8249},
    {u"rsaquo", 8250}, {u"oline", 8254}, {u"frasl", 8260}, {u"euro", 8364},
    // Letter-like symbols.
    {u"image", 8465}, {u"weierp", 8472}, {u"real", 8476}, {u"trade", 8482},
    {u"alefsym", 8501},
    // Arrows; the double arrows (lArr, uArr, ...) first.
    {u"larr", 8656}, {u"uarr", 8657}, {u"rarr", 8658}, {u"darr", 8659}, {u"harr", 8660},
    {u"larr", 8592}, {u"uarr", 8593}, {u"rarr", 8594}, {u"darr", 8595}, {u"harr", 8596},
    {u"crarr", 8629},
    // Mathematical operators.
    {u"forall", 8704}, {u"part", 8706}, {u"exist", 8707}, {u"empty", 8709},
    {u"nabla", 8711}, {u"isin", 8712}, {u"notin", 8713}, {u"ni", 8715}, {u"prod", 8719},
    {u"sum", 8721}, {u"minus", 8722}, {u"lowast", 8727}, {u"radic", 8730}, {u"prop", 8733},
    {u"infin", 8734}, {u"ang", 8736}, {u"and", 8743}, {u"or", 8744}, {u"cap", 8745},
    {u"cup", 8746}, {u"int", 8747}, {u"there4", 8756}, {u"sim", 8764}, {u"cong", 8773},
    {u"asymp", 8776}, {u"ne", 8800}, {u"equiv", 8801}, {u"le", 8804}, {u"ge", 8805},
    {u"sub", 8834}, {u"sup", 8835}, {u"nsub", 8836}, {u"sube", 8838}, {u"supe", 8839},
    {u"oplus", 8853}, {u"otimes", 8855}, {u"perp", 8869}, {u"sdot", 8901},
    // Technical, geometric and other symbols.
    {u"lceil", 8968}, {u"rceil", 8969}, {u"lfloor", 8970}, {u"rfloor", 8971},
    {u"lang", 9001}, {u"rang", 9002}, {u"loz", 9674}, {u"spades", 9824}, {u"clubs", 9827},
    {u"hearts", 9829}, {u"diams", 9830},
};
// clang-format on

constexpr int ENTITY_COUNT = static_cast<int>(std::size(ENTITIES));
static_assert(ENTITY_COUNT == 253, "HTML 4 has 252 named references, plus apos");

constexpr int CHAINS = 130;

constexpr unsigned hashName(std::u16string_view name) {
  unsigned sum = 0;
  for (char16_t c : name) sum += c;
  return sum % CHAINS;
}

// Chains keep table order, so the capital of a case pair stays ahead of its twin.
struct Chains {
  std::array<int16_t, CHAINS> head{};
  std::array<int16_t, ENTITY_COUNT> next{};
  constexpr Chains() {
    std::array<int16_t, CHAINS> tail{};
    for (int h = 0; h < CHAINS; ++h) head[h] = tail[h] = -1;
    for (int i = 0; i < ENTITY_COUNT; ++i) {
      unsigned h = hashName(ENTITIES[i].name);
      next[i] = -1;
      if (tail[h] < 0) {
        head[h] = static_cast<int16_t>(i);
      } else {
        next[tail[h]] = static_cast<int16_t>(i);
      }
      tail[h] = static_cast<int16_t>(i);
    }
  }
};

constexpr Chains CHAIN_TABLE;

}  // namespace

uint32_t entityCodePoint(std::u16string_view name) {
  char16_t folded[16];
  if (name.empty() || name.size() > std::size(folded)) return 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    folded[i] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  }
  std::u16string_view key(folded, name.size());
  for (int i = CHAIN_TABLE.head[hashName(key)]; i >= 0; i = CHAIN_TABLE.next[i]) {
    if (ENTITIES[i].name == key) return ENTITIES[i].codePoint;
  }
  return 0;
}

int entityCount() { return ENTITY_COUNT; }

}  // namespace zelk
