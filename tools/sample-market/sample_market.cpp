#include "sample-market/sample_market.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/csv.h"
#include "common/encoding.h"
#include "pricedb/fins_store.h"
#include "pricedb/sectors.h"

namespace lp::sample {

namespace fs = std::filesystem;

namespace {

// splitmix64: tiny, fast and bit-identical everywhere, unlike the std distributions.
struct Rng {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool chance(double p) { return uniform() < p; }
  // Roughly standard normal: four 16-bit uniforms summed (Irwin-Hall), arithmetic only.
  double normal() {
    std::uint64_t r = next();
    double sum = 0;
    for (int i = 0; i < 4; ++i, r >>= 16) sum += static_cast<double>(r & 0xFFFF) / 65536.0;
    return (sum - 2.0) * 1.7320508075688772;
  }
};

std::uint64_t stream_seed(unsigned seed, std::uint64_t salt) {
  Rng r{static_cast<std::uint64_t>(seed) * 0xD1B54A32D192ED03ull ^ salt};
  r.next();
  return r.next();
}

// ---- dates -------------------------------------------------------------------------------

long long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

// 0 = Sunday.
int weekday(long long days) {
  return static_cast<int>(((days % 7) + 11) % 7);
}

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

bool valid_date(int y, int m, int d) {
  return y >= 1900 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(y, m);
}

int nth_monday(int y, int m, int n) {
  const int first = weekday(days_from_civil(y, m, 1));
  return 1 + (8 - first) % 7 + 7 * (n - 1);
}

bool is_holiday(int y, int m, int d) {
  if ((m == 1 && d <= 3) || (m == 12 && d == 31)) return true;
  static const int kFixed[][2] = {{2, 11}, {2, 23}, {3, 20}, {4, 29}, {5, 3},  {5, 4},
                                  {5, 5},  {8, 11}, {9, 23}, {11, 3}, {11, 23}};
  for (const auto& f : kFixed) {
    if (f[0] == m && f[1] == d) return true;
  }
  return (m == 1 && d == nth_monday(y, 1, 2)) || (m == 7 && d == nth_monday(y, 7, 3)) ||
         (m == 9 && d == nth_monday(y, 9, 3)) || (m == 10 && d == nth_monday(y, 10, 2));
}

std::string today_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d", &local);
  return buf;
}

// ---- byte building -----------------------------------------------------------------------

void put(std::string& out, long long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// Prices are held in hundredths of a yen; ordinary stocks trade in whole yen.
void put_price(std::string& out, std::int64_t hundredths, bool decimals) {
  if (!decimals) {
    put(out, hundredths / 100);
    return;
  }
  put(out, hundredths / 100);
  const int frac = static_cast<int>(hundredths % 100);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + frac / 10));
  out.push_back(static_cast<char>('0' + frac % 10));
}

void put_date(std::string& out, int date) {
  put(out, date);
}

constexpr const char* kCrLf = "\r\n";

// ---- the stocks --------------------------------------------------------------------------

const char* const kKanjiStems[] = {
    "日本", "東洋", "大和", "三和",   "北海", "東邦",   "中央", "昭和",   "平和", "富士",
    "大同", "関東", "関西", "九州",   "東北", "北陸",   "山陽", "明治",   "朝日", "青葉",
    "松風", "若葉", "白鷺", "千代田", "浜松", "名古屋", "湘南", "瀬戸内", "桜井", "高砂",
    "黒潮", "星野", "新光", "大成",   "岩崎", "小松原", "常盤", "宝",     "旭日", "森永田"};
const char* const kKatakanaStems[] = {
    "サクラ",     "アオイ",     "ミライ",       "ヒカリ",   "アサヒ",   "スバル",
    "ツバサ",     "ハヤテ",     "コスモ",       "ユニオン", "アルファ", "ネクスト",
    "グローバル", "メディカル", "フロンティア", "ルミナ",   "ノルド",   "シグマ",
    "オリオン",   "ヴィスタ",   "ケイエス",     "エムティ"};
const char* const kHalfWidthStems[] = {"ｻｸﾗ",  "ﾐﾗｲ",  "ﾋｶﾘ",  "ｱｻﾋ",  "ｽﾊﾞﾙ", "ｺｽﾓ",
                                       "ﾕﾆｵﾝ", "ﾈｸｽﾄ", "ｼｸﾞﾏ", "ｵﾘｵﾝ", "ﾉﾙﾄﾞ", "ﾙﾐﾅ"};
const char* const kLatinStems[] = {"ＮＨ", "ＳＢ", "ＪＫ", "ＴＣＬ", "ＡＲＫ", "ＭＩＸ"};
const char* const kKanjiSuffixes[] = {
    "精密工業", "電機", "化学",   "製薬", "建設", "商事", "銀行",   "不動産", "食品",
    "運輸",     "証券", "電子",   "物産", "通信", "鉄鋼", "製作所", "工業",   "産業",
    "興業",     "紙業", "海運",   "倉庫", "電力", "瓦斯", "水産",   "製菓",   "百貨店",
    "薬品",     "繊維", "自動車", "重工", "技研", "精機", "地所",   "信託",   "鉱業"};
const char* const kKatakanaSuffixes[] = {"ホールディングス", "システムズ",      "テクノロジー",
                                         "エンジニアリング", "ファーマ",        "フーズ",
                                         "ネット",           "ソリューションズ"};
const char* const kHalfWidthSuffixes[] = {"ｼｽﾃﾑ", "ﾎｰﾙﾃﾞｨﾝｸﾞｽ", "ﾃｸﾉ", "ﾌｰｽﾞ", "ﾈｯﾄ"};

// Names a name search can find; given to the first few ordinary stocks.
const char* const kFeaturedNames[] = {"サクラ精密工業(株)", "ｻｸﾗ電機", "(株)サクラ化学",
                                      "桜井製作所", "サクラ食品ホールディングス"};

template <std::size_t N>
const char* pick(Rng& r, const char* const (&table)[N]) {
  return table[r.below(static_cast<int>(N))];
}

std::string make_name(Rng& r) {
  std::string name;
  const int kind = r.below(10);
  if (kind < 4) {
    name = std::string(pick(r, kKanjiStems)) + pick(r, kKanjiSuffixes);
  } else if (kind < 7) {
    name = pick(r, kKatakanaStems);
    name += r.chance(0.5) ? pick(r, kKanjiSuffixes) : pick(r, kKatakanaSuffixes);
  } else if (kind < 9) {
    name = pick(r, kHalfWidthStems);
    name += r.chance(0.5) ? pick(r, kKanjiSuffixes) : pick(r, kHalfWidthSuffixes);
  } else {
    name = std::string(pick(r, kLatinStems)) + pick(r, kKanjiSuffixes);
  }
  const double marker = r.uniform();
  if (marker < 0.12) {
    name = "(株)" + name;
  } else if (marker < 0.24) {
    name += "(株)";
  }
  return name;
}

const char* const kListedSegments[] = {"東証",   "東証1部", "東証外国", "東証2部",    "マザーズ",
                                       "大証",   "大証1部", "大証2部",  "大証外国部", "JASDAQ",
                                       "ＪＱＳ", "ＪＱＧ",  "JQ外国部"};
const char* const kOtherSegments[] = {"名証1部", "名証2部", "福証", "札証", "ヘラクレス"};
// Weights of the segments above, the listed ones first.
const int kSegmentWeights[] = {3, 36, 1, 10, 7, 2, 3, 2, 1, 12, 8, 2, 1, 2, 2, 1, 1, 1};
constexpr int kSegmentCount = 18;
constexpr std::size_t kForced = kSegmentCount;

const char* segment_name(int i) {
  return i < 13 ? kListedSegments[i] : kOtherSegments[i - 13];
}

int weighted_segment(Rng& r) {
  int total = 0;
  for (int w : kSegmentWeights) total += w;
  int x = r.below(total);
  for (int i = 0; i < kSegmentCount; ++i) {
    if (x < kSegmentWeights[i]) return i;
    x -= kSegmentWeights[i];
  }
  return 1;
}

struct Stock {
  int code = 0;
  std::string code_text;
  std::string name;       // CP932
  std::string segment;    // CP932
  bool decimals = false;  // an index quoted in hundredths
  int first_day = 0;      // global trading-day index, inclusive
  int last_day = 0;
  double trade_prob = 1.0;
  double zero_volume_prob = 0.0;
  double sigma = 0.02;
  double price = 1000;  // the split-adjusted level, in yen
  double anchor = 1000;
  double base_volume = 10000;
  int split_day = -1;  // first day at the new scale
  int split_num = 1, split_den = 1;
  int fins_kind = 0;  // results summaries: 0 ordinary, 1 loss-making, 2 no forecasts, -1 none,
                      // 3 withdraws a forecast (未定) and gives a new one, 4 changes its FY end
  int doc_style = 0;  // 0 consolidated JP GAAP, 1 IFRS, 2 US GAAP, 3 non-consolidated, 4 REIT
  int industry = 0;   // index into the 33 industries
  std::int64_t last_close = 0;  // raw, hundredths
  Rng rng{0};
};

struct Record {
  std::int32_t open, high, low, close;  // hundredths of a yen fit: prices stay far below 2e7
  std::int64_t volume;
  bool present;
};

// The code, market and name that open both a day line and a series header.
void put_identity(std::string& out, const Stock& s) {
  out += s.code_text;
  out += ',';
  out += s.segment;
  out += ',';
  out += s.name;
}

// ",open,high,low,close,volume" and the line end, shared by day lines and series lines.
void put_prices_and_volume(std::string& out, const Record& r, bool decimals) {
  for (std::int32_t p : {r.open, r.high, r.low, r.close}) {
    out += ',';
    put_price(out, p, decimals);
  }
  out += ',';
  put(out, r.volume);
  out += kCrLf;
}

double initial_price(Rng& r) {
  const double u = r.uniform();
  const double v = r.uniform();
  if (u < 0.15) return 50 + v * 250;
  if (u < 0.50) return 300 + v * 700;
  if (u < 0.80) return 1000 + v * 2000;
  if (u < 0.92) return 3000 + v * 7000;
  return 10000 + v * 30000;
}

// Tick sizes of an ordinary stock by price level, in hundredths.
std::int64_t to_ticks(double yen, bool decimals) {
  if (decimals) return std::max<std::int64_t>(1, static_cast<std::int64_t>(yen * 100 + 0.5));
  double tick = 1;
  if (yen >= 50000) {
    tick = 100;
  } else if (yen >= 30000) {
    tick = 50;
  } else if (yen >= 5000) {
    tick = 10;
  } else if (yen >= 3000) {
    tick = 5;
  }
  const double units = static_cast<double>(static_cast<std::int64_t>(yen / tick + 0.5)) * tick;
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(units)) * 100;
}

// One trading day of one stock at global day g.
Record simulate_day(Stock& s, int g) {
  Record rec{0, 0, 0, 0, 0, false};
  if (g < s.first_day || g > s.last_day) return rec;
  Rng& r = s.rng;
  // The level moves every market day, traded or not, so a missing day shows as a gap.
  double ret = s.sigma * r.normal();
  if (r.chance(0.01)) ret *= 3;  // the odd news day
  if (s.price > s.anchor * 3) ret -= 0.003;
  if (s.price < s.anchor / 3) ret += 0.003;
  ret = std::clamp(ret, -0.3, 0.3);
  const double prev = s.price;
  s.price = std::max(prev * (1 + ret), 5.0);
  if (g == s.split_day) s.last_close = 0;  // the old quote is on the old scale
  const bool traded = g == s.first_day || r.chance(s.trade_prob);
  if (!traded) return rec;

  const double scale =
      (s.split_day >= 0 && g < s.split_day) ? static_cast<double>(s.split_den) / s.split_num : 1.0;
  rec.present = true;
  if (s.last_close > 0 && r.chance(s.zero_volume_prob)) {
    // No trade: the quote stays at the last close.
    rec.open = rec.high = rec.low = rec.close = static_cast<std::int32_t>(s.last_close);
    return rec;
  }
  const double open = prev * (1 + 0.3 * s.sigma * r.normal());
  const double close = s.price;
  const double hi = std::max(open, close) * (1 + 0.5 * s.sigma * r.uniform());
  const double lo = std::min(open, close) * (1 - 0.5 * s.sigma * r.uniform());
  const std::int64_t o = to_ticks(open * scale, s.decimals);
  const std::int64_t c = to_ticks(close * scale, s.decimals);
  const std::int64_t h = std::max({to_ticks(hi * scale, s.decimals), o, c});
  const std::int64_t l = std::min({to_ticks(lo * scale, s.decimals), o, c});
  rec.open = static_cast<std::int32_t>(o);
  rec.high = static_cast<std::int32_t>(h);
  rec.low = static_cast<std::int32_t>(l);
  rec.close = static_cast<std::int32_t>(c);
  const double m = 0.2 + 1.6 * r.uniform();
  double volume = s.base_volume * m * m;
  if (scale != 1.0) volume /= scale;  // fewer, dearer shares before a split
  rec.volume = static_cast<std::int64_t>(volume / 100 + 0.5) * 100;
  if (rec.volume == 0) rec.volume = 100;
  s.last_close = c;
  return rec;
}

std::string code_text(int code) {
  std::string t;
  put(t, code);
  return t;
}

class Generator {
 public:
  Generator(const Options& o, Summary& s) : opt_(o), sum_(s) {}

  bool run(std::string& error);

 private:
  bool setup_calendar(std::string& error);
  void setup_stocks();
  bool write_year(int year, std::size_t g0, std::size_t g1, std::string& error);
  bool write(const fs::path& path, const std::string& bytes, std::string& error);
  bool make_dirs(const fs::path& path, std::string& error);
  bool write_fins(std::string& error);

  const Options& opt_;
  Summary& sum_;
  std::vector<int> days_;  // global trading days, oldest first
  std::vector<Stock> stocks_;
};

bool Generator::setup_calendar(std::string& error) {
  const std::string end_text = opt_.end_date.empty() ? today_text() : opt_.end_date;
  const int end = last_trading_day_on_or_before(end_text);
  if (end == 0) {
    error = "not a valid end date: " + end_text;
    return false;
  }
  if (opt_.years < 1 || opt_.years > 50) {
    error = "years must be 1 to 50";
    return false;
  }
  sum_.first_year = end / 10000 - opt_.years + 1;
  days_ = trading_days(sum_.first_year, end);
  if (days_.empty()) {
    error = "the span holds no trading day";
    return false;
  }
  sum_.end_date = std::to_string(end);
  sum_.trading_days = static_cast<int>(days_.size());
  return true;
}

void Generator::setup_stocks() {
  // A day file holds at most 5000 stock lines.
  const int n = std::clamp(opt_.codes, 2, 5000);
  Rng pick_rng{stream_seed(opt_.seed, 0xC0DE)};
  std::vector<int> pool;
  pool.reserve(9000);
  for (int c = 1000; c <= 9999; ++c) {
    if (c != 1001 && c != 1301) pool.push_back(c);
  }
  std::vector<int> chosen = {1001, 1301};
  for (int i = 0; i < n - 2; ++i) {
    const int j = i + pick_rng.below(static_cast<int>(pool.size()) - i);
    std::swap(pool[static_cast<std::size_t>(i)], pool[static_cast<std::size_t>(j)]);
    chosen.push_back(pool[static_cast<std::size_t>(i)]);
  }
  // chosen[2..] is in random order: the first ordinary stocks take the forced traits below.
  const int total = static_cast<int>(days_.size());
  const int last = total - 1;
  stocks_.resize(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    Stock& s = stocks_[i];
    s.code = chosen[i];
    s.code_text = code_text(s.code);
    s.rng.state = stream_seed(opt_.seed, 0x5000000ull + static_cast<std::uint64_t>(s.code));
    Rng traits{stream_seed(opt_.seed, 0x7000000ull + static_cast<std::uint64_t>(s.code))};
    s.first_day = 0;
    s.last_day = last;
    std::string name;
    int segment = weighted_segment(traits);
    if (s.code == 1001) {
      name = "ルミナ総合指数";
      s.fins_kind = -1;
      s.segment = utf8_to_cp932("指数");
      s.decimals = true;
      s.price = 26000 + traits.uniform() * 2000;
      s.sigma = 0.009;
      s.base_volume = 1.2e9;
    } else if (s.code == 1301) {
      name = "北洋水産(株)";
      s.industry = 0;  // 水産・農林業
      segment = 1;
      s.price = 2500 + traits.uniform() * 1000;
      s.sigma = 0.015;
      s.base_volume = 60000;
    } else {
      const std::size_t k = i - 2;  // rank among the ordinary stocks
      name = k < std::size(kFeaturedNames) ? kFeaturedNames[k] : make_name(traits);
      // Every segment name held by a stock that trades to the end: the forced delisting
      // (k = 2) takes one of the other segments.
      if (k < static_cast<std::size_t>(kSegmentCount)) {
        segment = static_cast<int>((k + 11) % kSegmentCount);
      }
      s.price = initial_price(traits);
      s.sigma = 0.01 + 0.025 * traits.uniform() + (s.price < 300 ? 0.01 : 0.0);
      const double vu = traits.uniform();
      s.base_volume = vu < 0.15 ? 200 + vu * 20000 : 5000 + vu * vu * 3e6;
      if (s.price > 5000) s.base_volume /= 5;
      // Forced traits make even a tiny market hold every kind of stock; random ones start
      // after the stocks that carry the forced segment names.
      const bool split = k == 0 || k == 5 || (k >= kForced && traits.chance(0.03));
      const bool listed = k == 1 || (k >= kForced && traits.chance(0.04));
      const bool delisted = k == 2 || (k >= kForced && traits.chance(0.03));
      const bool illiquid = k == 3 || k == 6 || (k >= kForced && traits.chance(0.12));
      if (k == 7) {
        s.fins_kind = 1;
        sum_.loss_making.push_back(s.code_text);
      } else if (k == 8) {
        s.fins_kind = 2;
        sum_.no_forecast.push_back(s.code_text);
      }
      // Documents and forecasts as varied as a real market's, from a stream of their own so
      // the prices stay as they were: forced on the next few stocks, now and then after them.
      Rng v{stream_seed(opt_.seed, 0x9300000ull + static_cast<std::uint64_t>(s.code))};
      const double d = v.uniform();
      s.doc_style = k == 9 ? 1 : k == 10 ? 2 : k == 11 ? 3 : k == 14 ? 4
                  : k < 15           ? 0
                  : d < 0.08         ? 1
                  : d < 0.09         ? 2
                  : d < 0.22         ? 3
                  : d < 0.23         ? 4
                                     : 0;
      const double f = v.uniform();
      if (s.fins_kind == 0 && s.doc_style != 4 && (k == 12 || (k >= 15 && f < 0.03))) {
        s.fins_kind = 3;
      } else if (s.fins_kind == 0 && s.doc_style != 4 && (k == 13 || (k >= 15 && f < 0.035))) {
        s.fins_kind = 4;
      }
      s.industry = s.doc_style == 4 ? 31 : static_cast<int>(v.below(33));  // REITs: 不動産業
      const std::array<std::vector<std::string>*, 5> styles = {
          nullptr, &sum_.ifrs, &sum_.us_gaap, &sum_.non_consolidated, &sum_.reit};
      if (styles[static_cast<std::size_t>(s.doc_style)])
        styles[static_cast<std::size_t>(s.doc_style)]->push_back(s.code_text);
      if (s.fins_kind == 3) sum_.withdrawn.push_back(s.code_text);
      if (s.fins_kind == 4) sum_.changed_fy.push_back(s.code_text);
      if (illiquid) {
        s.trade_prob = 0.55 + 0.4 * traits.uniform();
        s.zero_volume_prob = 0.03;
        s.base_volume = 100 + traits.uniform() * 3000;
        sum_.illiquid.push_back(s.code_text);
      } else if (s.base_volume < 5000) {
        s.zero_volume_prob = 0.01;
      }
      if (listed && total > 4) {
        s.first_day = 1 + traits.below(total - 3);
        sum_.listed_inside.push_back(s.code_text);
      }
      if (delisted && s.first_day + 2 < last) {
        s.last_day = s.first_day + 1 + traits.below(last - s.first_day - 1);
        sum_.delisted_inside.push_back(s.code_text);
      }
      if (split && s.last_day - s.first_day > 10) {
        // The first forced split sits mid-span so both sides have plenty of days.
        s.split_day = k == 0 ? (s.first_day + s.last_day) / 2
                             : s.first_day + 5 + traits.below(s.last_day - s.first_day - 9);
        static const int kRatios[][2] = {{1, 2}, {1, 5}, {1, 3}, {1, 10}, {10, 1}, {2, 3}};
        const auto& ratio = kRatios[k == 0 ? 0 : traits.below(6)];
        s.split_num = ratio[0];
        s.split_den = ratio[1];
        sum_.split.push_back(s.code_text);
      }
    }
    s.anchor = s.price;
    s.name = utf8_to_cp932(name);
    if (s.segment.empty()) s.segment = utf8_to_cp932(segment_name(segment));
  }
  std::sort(stocks_.begin(), stocks_.end(),
            [](const Stock& a, const Stock& b) { return a.code < b.code; });
  for (const Stock& s : stocks_) sum_.codes.push_back(s.code_text);
  for (auto* list : {&sum_.listed_inside, &sum_.delisted_inside, &sum_.split, &sum_.illiquid}) {
    std::sort(list->begin(), list->end());
  }
}

bool Generator::make_dirs(const fs::path& path, std::string& error) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) {
    error = "cannot create " + path.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool Generator::write(const fs::path& path, const std::string& bytes, std::string& error) {
  if (!write_file_atomic(path, bytes)) {
    error = "cannot write " + path.string();
    return false;
  }
  ++sum_.files_written;
  sum_.bytes_written += static_cast<long long>(bytes.size());
  return true;
}

bool Generator::write_year(int year, std::size_t g0, std::size_t g1, std::string& error) {
  const std::size_t ns = stocks_.size();
  const std::size_t nd = g1 - g0;
  std::vector<Record> recs(ns * nd);
  for (std::size_t i = 0; i < ns; ++i) {
    for (std::size_t j = 0; j < nd; ++j) {
      recs[i * nd + j] = simulate_day(stocks_[i], static_cast<int>(g0 + j));
    }
  }

  const bool to_db = !opt_.db_folder.empty();
  const bool to_packed = !opt_.packed_root.empty();
  const std::string yyyy = std::to_string(year);
  fs::path db_year, packed_year;
  if (to_db) {
    db_year = fs::path(opt_.db_folder) / yyyy;
    for (const char* sub : {"data_d", "data_m", "data_mh"}) {
      if (!make_dirs(db_year / sub, error)) return false;
    }
  }
  if (to_packed) {
    packed_year = fs::path(opt_.packed_root) / "html" / "kabuka_db" / yyyy;
    for (const char* sub : {"data_dg", "data_mg", "data_mhg"}) {
      if (!make_dirs(packed_year / sub, error)) return false;
    }
  }

  // Day files, grouped by month for the packed form.
  std::string file, month_body;
  int month = 0, month_blocks = 0;
  auto flush_month = [&]() -> bool {
    if (!to_packed || month == 0) return true;
    std::string packed;
    packed.reserve(month_body.size() + 64);
    put(packed, static_cast<long long>(year) * 100 + month);
    packed += ',';
    put(packed, month_blocks);
    packed += ",0,0,0,0,0,0";
    packed += kCrLf;
    packed += month_body;
    char name[16];
    std::snprintf(name, sizeof name, "%04d%02d.csv", year, month);
    return write(packed_year / "data_dg" / name, packed, error);
  };
  for (std::size_t j = 0; j < nd; ++j) {
    const int date = days_[g0 + j];
    const int m = date / 100 % 100;
    if (m != month) {
      if (!flush_month()) return false;
      month = m;
      month_blocks = 0;
      month_body.clear();
    }
    int count = 0;
    for (std::size_t i = 0; i < ns; ++i) count += recs[i * nd + j].present;
    file.clear();
    put_date(file, date);
    file += ',';
    put(file, count);
    file += ",0,0,0,0,0,0";
    file += kCrLf;
    for (std::size_t i = 0; i < ns; ++i) {
      const Record& r = recs[i * nd + j];
      if (!r.present) continue;
      const Stock& s = stocks_[i];
      put_identity(file, s);
      put_prices_and_volume(file, r, s.decimals);
    }
    if (to_db && !write(db_year / "data_d" / (std::to_string(date) + ".csv"), file, error)) {
      return false;
    }
    if (to_packed) {
      month_body += file;
      ++month_blocks;
    }
  }
  if (!flush_month()) return false;

  // Series files, packed per thousand codes.
  std::string block_body[10];
  int block_count[10] = {};
  for (std::size_t i = 0; i < ns; ++i) {
    const Stock& s = stocks_[i];
    int count = 0, oldest = 0, newest = 0;
    for (std::size_t j = 0; j < nd; ++j) {
      if (!recs[i * nd + j].present) continue;
      if (count == 0) oldest = days_[g0 + j];
      newest = days_[g0 + j];
      ++count;
    }
    if (count == 0) continue;
    file.clear();
    put_identity(file, s);
    file += ',';
    put_date(file, oldest);
    file += ',';
    put_date(file, newest);
    file += ',';
    put(file, count);
    file += kCrLf;
    for (std::size_t j = 0; j < nd; ++j) {
      const Record& r = recs[i * nd + j];
      if (!r.present) continue;
      put_date(file, days_[g0 + j]);
      put_prices_and_volume(file, r, s.decimals);
    }
    if (to_db && !write(db_year / "data_m" / (s.code_text + ".csv"), file, error)) return false;
    if (to_packed) {
      block_body[s.code / 1000] += file;
      ++block_count[s.code / 1000];
    }
  }
  if (to_packed) {
    for (int k = 1; k <= 9; ++k) {
      std::string packed;
      put(packed, k * 1000);
      packed += ',';
      put(packed, block_count[k]);
      packed += ",0,0,0,0";
      packed += kCrLf;
      packed += block_body[k];
      if (!write(packed_year / "data_mg" / (std::to_string(k * 1000) + ".csv"), packed, error)) {
        return false;
      }
    }
  }

  // Correction files: one line per split dated in this year.
  std::string corrections;
  int correction_blocks = 0;
  for (const Stock& s : stocks_) {
    if (s.split_day < 0 || s.split_day < static_cast<int>(g0) ||
        s.split_day >= static_cast<int>(g1)) {
      continue;
    }
    file.clear();
    file += s.code_text;
    file += ',';
    file += yyyy;
    file += ",1";
    file += kCrLf;
    put_date(file, days_[static_cast<std::size_t>(s.split_day)]);
    file += ',';
    put(file, s.split_num);
    file += ',';
    put(file, s.split_den);
    file += kCrLf;
    if (to_db && !write(db_year / "data_mh" / (s.code_text + ".csv"), file, error)) return false;
    corrections += file;
    ++correction_blocks;
  }
  if (to_packed) {
    std::string packed = yyyy + ",";
    put(packed, correction_blocks);
    packed += ",0";
    packed += kCrLf;
    packed += corrections;
    if (!write(packed_year / "data_mhg" / (yyyy + ".csv"), packed, error)) return false;
  }
  return true;
}

// ---- results summaries ---------------------------------------------------------------------

// The first trading day on or after yyyymmdd `date` (0 past the end).
int trading_day_from(const std::vector<int>& days, int date) {
  auto it = std::lower_bound(days.begin(), days.end(), date);
  return it == days.end() ? 0 : *it;
}

// Quarterly disclosures of a fiscal year running April to March: 1Q in August, 2Q in November,
// 3Q in February, the year's results in May with next year's forecasts, now and then a
// forecast revision in March. Levels follow the stock's price so the ratios look like a real
// market's; per-share figures and share counts disclosed before a split are on the old basis.
// As in a real market: consolidated JP GAAP, IFRS and US GAAP (no ordinary profit) and
// non-consolidated documents and REITs (distributions, not dividends); forecasts that miss the
// actuals; sales and operating profit that grow apart; a forecast withdrawn in a 1Q (未定) and
// given anew by a revision notice; and a company whose fiscal year end moves from March to
// December (a nine-month year reported in February, then calendar years).
std::vector<lp::fins::Disclosure> sample_disclosures(const Stock& s, const std::vector<int>& days,
                                                     unsigned seed) {
  using namespace lp::fins;
  std::vector<Disclosure> out;
  if (s.fins_kind < 0 || days.empty()) return out;
  Rng r{stream_seed(seed, 0x9100000ull + static_cast<std::uint64_t>(s.code))};
  Rng v{stream_seed(seed, 0x9400000ull + static_cast<std::uint64_t>(s.code))};  // the variety
  const int first = days[static_cast<std::size_t>(s.first_day)];
  const int last = days[static_cast<std::size_t>(s.last_day)];
  const int split_date = s.split_day >= 0 ? days[static_cast<std::size_t>(s.split_day)] : 0;
  const double split_factor = static_cast<double>(s.split_num) / s.split_den;
  const double per = 8 + 22 * r.uniform();
  const double pbr = 0.5 + 2.5 * r.uniform();
  const double payout = 0.15 + 0.3 * r.uniform();
  const double margin = 0.03 + 0.08 * r.uniform();
  double shares = 4e6 + r.uniform() * r.uniform() * 4e8;  // on the newest basis
  const double treasury = shares * 0.05 * r.uniform();
  const int offset = r.below(10);  // the company's usual disclosure day
  // The year's earnings per share on the newest basis; the loss-maker loses money.
  const int first_fy = days.front() / 10000 - 1;
  const int last_fy = days.back() / 10000;
  std::vector<double> eps, margins, misses;
  double e = s.anchor / per;
  for (int y = first_fy; y <= last_fy + 2; ++y) {
    eps.push_back(e);
    e *= 0.9 + 0.25 * r.uniform();
    // Sales follow their own path: the margin moves from year to year.
    margins.push_back(margin * (0.8 + 0.4 * v.uniform()));
    // What the company forecast for the year, against what it then earned.
    misses.push_back(0.85 + 0.3 * v.uniform());
  }
  if (s.fins_kind == 1) {
    for (std::size_t i = eps.size() / 2; i < eps.size(); ++i) eps[i] = -std::fabs(eps[i]) * 0.4;
  }
  const double bps0 = s.anchor / pbr;
  auto number = [](double x, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    return std::string(buf);
  };
  const char* suffix[] = {"_Consolidated_JP", "_Consolidated_IFRS", "_Consolidated_US",
                          "_NonConsolidated_JP", "_NonConsolidated_REIT"};
  const std::string style = suffix[s.doc_style];
  const bool reit = s.doc_style == 4;
  const bool no_ordinary = s.doc_style == 1 || s.doc_style == 2;
  // A fiscal year: its start and end (yyyymmdd), the index of its earnings, and its length in
  // quarters (a changed year runs three).
  struct Year {
    int start, end;
    std::size_t i;
    int quarters;
  };
  int seq = 0;
  // One disclosure: `part` of the year's earnings as actuals (0: none), the forecast of `year`
  // (its current year) or of `next` (its next year), `revise` times the first forecast.
  auto add = [&](int target, const char* period, const std::string& doc, const Year& year,
                 double part, const Year* next, double revise, bool withdrawn, int period_end) {
    if (target + offset < days.front()) return;  // before the market's span
    const int date = trading_day_from(days, target + offset);
    if (date == 0 || date < first || date > last) return;
    // Before the split the company counted fewer (or more) shares.
    const double basis = split_date > 0 && date < split_date ? split_factor : 1.0;
    const std::size_t i = year.i;
    const double sh = shares * basis;
    const double eps_y = eps[i] / basis;
    const double year_part = year.quarters / 4.0;
    const double np = eps[i] * shares * part;
    const double sales = std::fabs(eps[i] * shares) / margins[i] * part;
    Disclosure d;
    d.set(DiscDate, std::to_string(date));
    d.set(DiscTime, "15:00");
    d.set(Code, s.code_text);
    d.set(DiscNo, std::to_string(static_cast<long long>(date) * 100000 + s.code * 10 + seq++ % 10));
    d.set(DocType, doc);
    d.set(CurPerType, period);
    d.set(CurFYSt, std::to_string(year.start));
    d.set(CurFYEn, std::to_string(year.end));
    if (part > 0) {
      d.set(CurPerSt, std::to_string(year.start));
      d.set(CurPerEn, std::to_string(period_end));
      d.set(Sales, number(sales, 0));
      // Operating profit from the year's own margin on sales: it grows apart from sales.
      d.set(OP, number(np * 1.45 * margins[i] / margin, 0));
      if (!no_ordinary) d.set(OdP, number(np * 1.5, 0));
      d.set(NP, number(np, 0));
      d.set(EPS, number(eps_y * part, 2));
      d.set(DEPS, number(eps_y * part * 0.99, 2));
      const double bps = (bps0 + eps[i] * (1 - payout) * 0.5) / basis;
      d.set(BPS, number(bps, 2));
      const double eq = bps * sh;
      const double ta = eq * (1.8 + r.uniform());
      d.set(Eq, number(eq, 0));
      d.set(TA, number(ta, 0));
      // 自己資本 is net assets less minority interests and subscription rights.
      d.set(EqAR, number(eq * (0.9 + 0.08 * v.uniform()) / ta, 3));
      d.set(AvgSh, number(sh - treasury * basis, 0));
      if (part >= year_part) {
        const double dividend = std::max(0.0, std::round(eps_y * year_part * payout));
        d.set(reit ? DivUnit : DivAnn, number(dividend, 1));
        if (!reit && eps_y > 0) d.set(PayoutRatioAnn, number(dividend / (eps_y * year_part), 3));
        d.set(CFO, number(np * 1.3, 0));
        d.set(CFI, number(-np * 0.8, 0));
        d.set(CFF, number(-np * 0.3, 0));
        d.set(CashEq, number(eq * 0.2, 0));
      }
      d.set(ShOutFY, number(sh, 0));
      d.set(TrShFY, number(treasury * basis, 0));
    }
    if (s.fins_kind != 2) {
      const Year& f = next ? *next : year;
      const double fpart = f.quarters / 4.0;
      const double scale = misses[f.i] * revise * fpart;
      const double fe = eps[f.i] * scale / basis;
      const std::string fsales = number(std::fabs(eps[f.i] * shares) / margins[f.i] * scale, 0);
      const std::string fop = number(eps[f.i] * shares * 1.45 * scale * margins[f.i] / margin, 0);
      const std::string fodp = number(eps[f.i] * shares * 1.5 * scale, 0);
      const std::string fnp = number(eps[f.i] * shares * scale, 0);
      const std::string fdiv = number(std::max(0.0, std::round(fe * payout)), 1);
      const bool earn = doc.find("Dividend") == std::string::npos;
      const bool dividend = doc.find("Earn") == std::string::npos;
      if (next) {
        d.set(NxtFYSt, std::to_string(next->start));
        d.set(NxtFYEn, std::to_string(next->end));
        d.set(NxFSales, fsales);
        d.set(NxFOP, fop);
        if (!no_ordinary) d.set(NxFOdP, fodp);
        d.set(NxFNp, fnp);
        d.set(NxFEPS, number(fe, 2));
        d.set(reit ? NxFDivUnit : NxFDivAnn, fdiv);
      } else if (!withdrawn) {
        if (earn) {
          d.set(FSales, fsales);
          d.set(FOP, fop);
          if (!no_ordinary) d.set(FOdP, fodp);
          d.set(FNP, fnp);
          d.set(FEPS, number(fe, 2));
        }
        if (dividend) d.set(reit ? FDivUnit : FDivAnn, fdiv);
      }
    }
    out.push_back(std::move(d));
  };
  const auto doc = [&](const char* kind) { return std::string(kind) + "FinancialStatements" + style; };
  const auto march_year = [&](int fy) {
    return Year{fy * 10000 + 401, (fy + 1) * 10000 + 331, static_cast<std::size_t>(fy - first_fy), 4};
  };
  // The changing company: its year ending March of change_fy + 1 is its last March year, the
  // next runs April to December (three quarters), then calendar years.
  const int change_fy = s.fins_kind == 4 ? std::max(first_fy, last_fy - 2) : last_fy + 1;
  for (int fy = first_fy; fy <= last_fy; ++fy) {
    const double drift = 0.9 + 0.2 * r.uniform();
    if (fy > change_fy) break;
    const Year y = march_year(fy);
    const bool withdraws = s.fins_kind == 3 && fy == last_fy - 1;
    add(fy * 10000 + 801, "1Q", doc("1Q"), y, 0.25, nullptr, 1, withdraws, fy * 10000 + 630);
    if (withdraws) {
      // The 未定 ends with a revision notice of earnings and one of the dividend.
      add(fy * 10000 + 915, "FY", "EarnForecastRevision", y, 0, nullptr, 0.8, false, 0);
      add(fy * 10000 + 916, "FY", "DividendForecastRevision", y, 0, nullptr, 0.8, false, 0);
    }
    add(fy * 10000 + 1101, "2Q", doc("2Q"), y, 0.5, nullptr, withdraws ? 0.8 : 1, false,
        fy * 10000 + 930);
    add((fy + 1) * 10000 + 201, "3Q", doc("3Q"), y, 0.75, nullptr, withdraws ? 0.8 : 1, false,
        fy * 10000 + 1231);
    if (r.chance(0.3)) {
      add((fy + 1) * 10000 + 310, "FY", reit ? "REITEarnForecastRevision" : "EarnForecastRevision",
          y, 0, nullptr, drift, false, 0);
    }
    if (fy == change_fy) {
      const Year nine{(fy + 1) * 10000 + 401, (fy + 1) * 10000 + 1231, y.i + 1, 3};
      add((fy + 1) * 10000 + 501, "FY", doc("FY"), y, 1, &nine, 1, false, y.end);
      const int cy = fy + 1;
      add(cy * 10000 + 801, "1Q", doc("1Q"), nine, 0.25, nullptr, 1, false, cy * 10000 + 630);
      add(cy * 10000 + 1101, "2Q", doc("2Q"), nine, 0.5, nullptr, 1, false, cy * 10000 + 930);
      // Calendar years from then on: results in February, quarters in May, August, November.
      Year prev = nine;
      for (int c = cy + 1; c <= last_fy + 1; ++c) {
        const Year cal{c * 10000 + 101, c * 10000 + 1231, prev.i + 1, 4};
        add(c * 10000 + 210, "FY", doc("FY"), prev, prev.quarters / 4.0, &cal, 1, false, prev.end);
        add(c * 10000 + 510, "1Q", doc("1Q"), cal, 0.25, nullptr, 1, false, c * 10000 + 331);
        add(c * 10000 + 810, "2Q", doc("2Q"), cal, 0.5, nullptr, 1, false, c * 10000 + 630);
        add(c * 10000 + 1110, "3Q", doc("3Q"), cal, 0.75, nullptr, 1, false, c * 10000 + 930);
        prev = cal;
      }
      break;
    }
    const Year next = march_year(fy + 1);
    add((fy + 1) * 10000 + 501, "FY", doc("FY"), y, 1, &next, 1, false, y.end);
  }
  std::stable_sort(out.begin(), out.end(), disclosure_before);
  return out;
}

bool Generator::write_fins(std::string& error) {
  std::vector<fs::path> folders;
  if (!opt_.db_folder.empty()) folders.push_back(fs::path(opt_.db_folder) / "fins");
  if (!opt_.fins_db.empty()) folders.push_back(fs::path(opt_.fins_db) / "fins");
  for (const fs::path& f : folders) {
    if (!make_dirs(f, error)) return false;
  }
  // The 33-industry sectors every master carries, as a sync keeps them (sectors.csv).
  lp::sectors::MasterSectors master;
  for (const Stock& s : stocks_) {
    if (s.fins_kind < 0 && s.code == 1001) continue;  // the index has no industry
    const lp::sectors::Industry& ind =
        lp::sectors::industries33()[static_cast<std::size_t>(s.industry)];
    master[s.code_text] = {0, ind.s17, std::string(lp::sectors::name17(ind.s17)), ind.code,
                           ind.name, cp932_to_utf8(s.segment)};
    sum_.sectors.emplace_back(s.code_text, ind.code);
  }
  lp::sectors::SectorTable table;
  table.merge(master, days_.empty() ? 0 : days_.back());
  for (const fs::path& f : folders) {
    if (!write(f.parent_path() / "sectors.csv", table.file_bytes(), error)) return false;
  }
  for (const Stock& s : stocks_) {
    const std::vector<lp::fins::Disclosure> list = sample_disclosures(s, days_, opt_.seed);
    if (list.empty()) continue;
    sum_.disclosures += static_cast<long long>(list.size());
    const std::string bytes = lp::fins::fins_file_bytes(list);
    for (const fs::path& f : folders) {
      if (!write(f / (s.code_text + ".csv"), bytes, error)) return false;
    }
  }
  return true;
}

bool Generator::run(std::string& error) {
  if (opt_.db_folder.empty() && opt_.packed_root.empty() && opt_.fins_db.empty()) {
    error = "nothing to write: give a database folder or a packed root";
    return false;
  }
  if (!setup_calendar(error)) return false;
  setup_stocks();
  std::size_t g0 = 0;
  while (g0 < days_.size()) {
    const int year = days_[g0] / 10000;
    std::size_t g1 = g0;
    while (g1 < days_.size() && days_[g1] / 10000 == year) ++g1;
    if (!write_year(year, g0, g1, error)) return false;
    g0 = g1;
  }
  return write_fins(error);
}

}  // namespace

bool is_trading_day(int yyyymmdd) {
  const int y = yyyymmdd / 10000, m = yyyymmdd / 100 % 100, d = yyyymmdd % 100;
  if (!valid_date(y, m, d)) return false;
  const int wd = weekday(days_from_civil(y, m, d));
  return wd >= 1 && wd <= 5 && !is_holiday(y, m, d);
}

int last_trading_day_on_or_before(std::string_view text) {
  if (text.size() != 8) return 0;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  int y = value / 10000, m = value / 100 % 100, d = value % 100;
  if (!valid_date(y, m, d)) return 0;
  long long day = days_from_civil(y, m, d);
  for (int back = 0; back < 40; ++back, --day) {
    civil_from_days(day, y, m, d);
    const int date = y * 10000 + m * 100 + d;
    if (is_trading_day(date)) return date;
  }
  return 0;
}

std::vector<int> trading_days(int first_year, int end_date) {
  std::vector<int> out;
  const long long last = days_from_civil(end_date / 10000, end_date / 100 % 100, end_date % 100);
  for (long long day = days_from_civil(first_year, 1, 1); day <= last; ++day) {
    int y, m, d;
    civil_from_days(day, y, m, d);
    const int date = y * 10000 + m * 100 + d;
    if (is_trading_day(date)) out.push_back(date);
  }
  return out;
}

const std::vector<std::string>& listed_segment_names() {
  static const std::vector<std::string> names(std::begin(kListedSegments),
                                              std::end(kListedSegments));
  return names;
}

bool generate(const Options& options, std::string& error, Summary& summary) {
  summary = Summary{};
  Generator gen(options, summary);
  return gen.run(error);
}

bool generate(const Options& options, std::string& error) {
  Summary summary;
  return generate(options, error, summary);
}

}  // namespace lp::sample
