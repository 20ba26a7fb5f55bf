#include "common/collation.h"

#include "common/encoding.h"

namespace lp {

namespace {

// Half-width katakana U+FF66..U+FF9D as full-width katakana.
constexpr char32_t kHalfKana[] = {
    0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3,
    0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1,
    0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6,
    0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8,
    0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3};

// Widths folded, katakana as hiragana, half-width voiced marks joined to their kana.
std::u32string fold_width_and_script(std::string_view utf8) {
  const std::u32string in = to_u32(utf8);
  std::u32string out;
  out.reserve(in.size());
  for (char32_t c : in) {
    if (c >= 0xFF01 && c <= 0xFF5E) {
      c -= 0xFEE0;
    } else if (c == 0x3000) {
      c = U' ';
    } else if (c >= 0xFF66 && c <= 0xFF9D) {
      c = kHalfKana[c - 0xFF66];
    } else if ((c == 0xFF9E || c == 0xFF9F || c == 0x309B || c == 0x309C) && !out.empty()) {
      // A separate voiced mark joins the kana before it where that kana has a voiced form.
      const bool semi = c == 0xFF9F || c == 0x309C;
      char32_t& prev = out.back();
      const char32_t h = prev;
      const bool ka_to = (h >= 0x304B && h <= 0x3062 && (h - 0x304B) % 2 == 0) || h == 0x3064 ||
                         h == 0x3066 || h == 0x3068;
      const bool ha = h >= 0x306F && h <= 0x307D && (h - 0x306F) % 3 == 0;
      if (!semi && ka_to) {
        prev = h + 1;
        continue;
      }
      if (ha) {
        prev = h + (semi ? 2 : 1);
        continue;
      }
      if (!semi && h == 0x3046) {
        prev = 0x3094;
        continue;
      }
      continue;  // a mark that joins nothing carries no letter
    }
    if (c >= 0x30A1 && c <= 0x30F6) c -= 0x60;  // katakana -> hiragana
    out.push_back(c);
  }
  return out;
}

// The plain full-size kana of a hiragana; anything else unchanged.
char32_t base_kana(char32_t c) {
  switch (c) {
    case 0x3041: case 0x3043: case 0x3045: case 0x3047: case 0x3049:  // small vowels
    case 0x3083: case 0x3085: case 0x3087: case 0x308E:               // small ya yu yo wa
      return c + 1;
    case 0x3063: case 0x3065:  // small tsu, dzu
      return 0x3064;
    case 0x3094:
      return 0x3046;
    case 0x3095:
      return 0x304B;
    case 0x3096:
      return 0x3051;
    default:
      break;
  }
  if (c >= 0x304B && c <= 0x3062) return (c - 0x304B) % 2 ? c - 1 : c;
  if (c >= 0x3066 && c <= 0x3069) return (c - 0x3066) % 2 ? c - 1 : c;
  if (c >= 0x306F && c <= 0x307D) return c - (c - 0x306F) % 3;
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  return c;
}

int compare_u32(const std::u32string& a, const std::u32string& b) {
  const int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

}  // namespace

int compare_japanese_text(std::string_view a, std::string_view b) {
  const std::u32string fa = fold_width_and_script(a);
  const std::u32string fb = fold_width_and_script(b);
  std::u32string pa = fa, pb = fb;
  for (char32_t& c : pa) c = base_kana(c);
  for (char32_t& c : pb) c = base_kana(c);
  if (const int r = compare_u32(pa, pb)) return r;
  if (const int r = compare_u32(fa, fb)) return r;
  return compare_u32(to_u32(a), to_u32(b));
}

}  // namespace lp
