#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "common/keyvalue.h"
#include "common/numbers.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(Numbers, ParseIsLenient) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"123", 123},       {"  42", 42},       {"0123.0", 123},  {"-7.5", -7.5},
      {"+3", 3},          {"12abc", 12},      {"abc", 0},       {"", 0},
      {"1.5e3", 1500},    {"1e", 1},          {".5", 0.5},      {"-", 0},
      {"3.", 3},          {"99999999999999999999", 1e20},       {" \t-0.25x", -0.25},
  };
  for (const auto& [text, want] : cases) EXPECT_DOUBLE_EQ(parse_number(text), want) << text;
}

TEST(Numbers, RoundHalfToEvenSaturates) {
  const std::vector<std::pair<double, std::int64_t>> cases = {
      {24.5, 24}, {25.5, 26}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2}, {2.4999, 2}, {-0.4, 0},
      {1e300, std::numeric_limits<std::int64_t>::max()},
      {-1e300, std::numeric_limits<std::int64_t>::min()},
      {std::numeric_limits<double>::infinity(), std::numeric_limits<std::int64_t>::max()},
      {std::nan(""), 0},
  };
  for (const auto& [v, want] : cases) EXPECT_EQ(round_half_even(v), want) << v;
  EXPECT_EQ(round_half_even_i16(40000.0), 32767);
  EXPECT_EQ(round_half_even_i16(-40000.0), -32768);
  EXPECT_EQ(round_half_even_i32(1e12), 2147483647);
}

TEST(Numbers, DecimalTextIsShortestUpTo15Digits) {
  const std::vector<std::pair<double, std::string>> cases = {
      {100.0 / 3.0, "33.3333333333333"},
      {-std::sqrt(2.0), "-1.4142135623731"},
      {parse_number("0123.0"), "123"},
      {0.1 + 0.2, "0.3"},
      {1234.5, "1234.5"},
      {-0.0, "0"},
      {0.0001, "0.0001"},
      {123456789012.25, "123456789012.25"},
      {1e15, "1E+15"},
      {2.0 / 3.0 * 1000, "666.666666666667"},
  };
  for (const auto& [v, want] : cases) EXPECT_EQ(format_decimal(v), want) << v;
}

TEST(Numbers, DisplayPatterns) {
  struct Case {
    double v;
    const char* pattern;
    const char* want;
  };
  const std::vector<Case> cases = {
      {1234.4, "#,###,###,###,##0", "1,234"},
      {1234567, "#,##0", "1,234,567"},
      {0, "#,##0", "0"},
      {0.5, "#.#0", ".50"},
      {-3.2, "#.#0", "-3.20"},
      {12.345, "#,###,###,##0.#0", "12.35"},
      {1234, "#,##0.##", "1,234."},
      {1234.5, "#,##0.##", "1,234.5"},
      {20240105, "#######0", "20240105"},
      {9.0909, "#,###,###,##0.0", "9.1"},
      {1234567, "#,###,##,##0", "1,234,567"},
      {-0.001, "#,##0", "0"},
      {2.5, "0", "3"},
      {12.3456, "#,##0.00", "12.35"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_pattern(c.v, c.pattern), c.want) << c.pattern;
}

TEST(Encoding, Cp932RoundTripsJapaneseText) {
  const std::vector<std::string> texts = {"極洋", "東証1部", "ｻｸﾗ電機", "サクラ精密工業(株)",
                                          "ＡＢＣ１２３", "plain ascii"};
  for (const std::string& t : texts) {
    EXPECT_EQ(cp932_to_utf8(utf8_to_cp932(t)), t) << t;
  }
  // Half-width katakana are single bytes in CP932.
  EXPECT_EQ(utf8_to_cp932("ｻ").size(), 1u);
}

TEST(Encoding, UndecodableBytesBecomeReplacementCharacters) {
  // A lead byte with an invalid trail, an unmapped byte and a lone lead byte at the end.
  const std::string bad = std::string("A\x81") + " B" + "\xFF" + "C\x82";
  std::string out = cp932_to_utf8(bad);
  EXPECT_EQ(out.front(), 'A');
  EXPECT_NE(out.find('B'), std::string::npos);
  EXPECT_NE(out.find('C'), std::string::npos);
  EXPECT_NE(out.find("\xEF\xBF\xBD"), std::string::npos);
  // Garbage of every byte value decodes to the end without stopping.
  std::string all;
  for (int rep = 0; rep < 50; ++rep)
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_FALSE(cp932_to_utf8(all).empty());
  EXPECT_EQ(utf8_to_cp932("a\xF0\x9F\x98\x80z"), "a?z");  // emoji has no CP932 form
}

TEST(Encoding, CodePointHelpersCountCharactersNotBytes) {
  EXPECT_EQ(cp_count("ｻｸﾗ電機"), 5u);
  EXPECT_EQ(cp_left("サクラ精密工業", 3), "サクラ");
  EXPECT_EQ(cp_mid("サクラ精密工業", 3, 2), "精密");
  EXPECT_EQ(cp_mid("サクラ", 5), "");
  EXPECT_EQ(cp_right("サクラ精密", 2), "精密");
  EXPECT_EQ(to_utf8(to_u32("ｶﾞ漢字")), "ｶﾞ漢字");
}

TEST(Encoding, PrintableTextDropsWhatATerminalWouldObey) {
  const struct {
    const char* in;
    bool keep_line_breaks;
    const char* out;
  } cases[] = {
      {"\x1b]0;owned\x07\x1b[2Jエラー", false, "]0;owned[2Jエラー"},
      {"a\r\nb\tc", false, "ab\tc"},
      {"a\r\nb", true, "a\nb"},
      {"\xc2\x9b"
       "31m赤\x7f",
       false, "31m赤"},                                 // C1 CSI and DEL
      {"abc\xe2\x80\xaetxt.exe", false, "abctxt.exe"},  // a right-to-left override
      {"\xff\xfeok", false, "\xef\xbf\xbd\xef\xbf\xbdok"},
      {"極洋，ＡＢＣ 100%", false, "極洋，ＡＢＣ 100%"},
  };
  for (const auto& c : cases) EXPECT_EQ(printable_text(c.in, c.keep_line_breaks), c.out) << c.in;
}

TEST(Encoding, CompanyMarkerCleanUp) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"(株)ABC", "ABC"},
      {"サクラ精密工業(株)", "サクラ精密工業"},
      {"極洋", "極洋"},
      // Found further on, the last three characters go, whatever they are.
      {"AB(株)CD", "AB(株"},
      {"(株)", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(clean_company_marker(in), want) << in;
}

TEST(KeyValues, ReadsPairsUpToEof) {
  test::TempDir dir;
  test::write_cp932(dir.file("k.txt"),
                    "鍵1,値1\r\n\r\n\"鍵 2\",\"a,b\"\r\n  鍵3 , 3 \r\nEOF\r\nafter,x\r\n");
  std::vector<std::pair<std::string, std::string>> got;
  ASSERT_TRUE(read_key_values(dir.file("k.txt"),
                              [&](const std::string& k, const std::string& v) {
                                got.emplace_back(k, v);
                              }));
  const std::vector<std::pair<std::string, std::string>> want = {
      {"鍵1", "値1"}, {"鍵 2", "a,b"}, {"鍵3", "3"}};
  EXPECT_EQ(got, want);
  EXPECT_FALSE(read_key_values(dir.file("none.txt"), [](auto&, auto&) {}));
}

TEST(KeyValues, Utf8ByteOrderMarkDoesNotHideTheFirstKey) {
  test::TempDir dir;
  test::write_bytes(dir.file("k.txt"), "\xEF\xBB\xBF" "key,1\r\nEOF\r\n");
  std::string first;
  read_key_values(dir.file("k.txt"), [&](const std::string& k, const std::string&) {
    if (first.empty()) first = k;
  });
  EXPECT_EQ(first, "key");
}

}  // namespace
}  // namespace lp
