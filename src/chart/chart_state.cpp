#include "chart/chart_state.h"

#include "pricedb/stock_code.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "chart/chart_model.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/keyvalue.h"
#include "common/numbers.h"
#include "pricedb/formats.h"

namespace lp::chart {

namespace {

ComboPrefs combo(std::vector<std::string> items, std::string text) {
  return {std::move(items), std::move(text)};
}

}  // namespace

ChartPrefs chart_defaults() {
  ChartPrefs p;
  p.period = combo({"60", "120", "250", "500", "1000", "2000"}, "250");
  p.ma1 = combo({"5", "13", "25", "50", "75"}, "25");
  p.ma2 = combo({"25", "50", "75", "100", "200"}, "75");
  p.rsi_period = combo({"9", "14", "25"}, "14");
  p.band_period = combo({"10", "20", "25", "50"}, "20");
  p.bar_unit = combo({"日足", "週足", "月足"}, "日足");
  return p;
}

bool apply_chart_pref(ChartPrefs& prefs, std::string_view key_in, std::string_view value_in) {
  const std::string key = trim_blanks(key_in);
  const std::string value = trim_blanks(value_in);
  struct Switch {
    const char* key;
    bool ChartPrefs::*box;
  };
  static const Switch kSwitches[] = {
      {"ローソク表示", &ChartPrefs::candles},
      {"出来高表示", &ChartPrefs::volume},
      {"比率目盛表示", &ChartPrefs::ratio},
      {"MA差表示", &ChartPrefs::alg1},
      {"MA表示", &ChartPrefs::ma},
      {"RSI表示", &ChartPrefs::rsi},
      {"σバンド表示", &ChartPrefs::bands},
  };
  for (const Switch& s : kSwitches) {
    if (key != s.key) continue;
    if (value == "ON") prefs.*s.box = true;
    if (value == "OFF") prefs.*s.box = false;
    return true;
  }
  if (key == "コード") {
    prefs.code = value;
    return true;
  }
  struct IndicatorKey {
    const char* name;
    bool IndicatorSwitches::*on;
    int count;
    int IndicatorParams::*params[3];
  };
  using P = IndicatorParams;
  static const IndicatorKey kIndicators[] = {
      {"MACD", &IndicatorSwitches::macd, 3, {&P::macd_fast, &P::macd_slow, &P::macd_signal}},
      {"ストキャスティクス",
       &IndicatorSwitches::stoch,
       3,
       {&P::stoch_k, &P::stoch_d, &P::stoch_slow}},
      {"RCI", &IndicatorSwitches::rci, 2, {&P::rci_short, &P::rci_long, nullptr}},
      {"一目均衡表", &IndicatorSwitches::ichimoku, 3, {&P::tenkan, &P::kijun, &P::span_b}},
      {"ボリンジャーバンド", &IndicatorSwitches::bb, 1, {&P::bb_period, nullptr, nullptr}},
      {"出来高MA", &IndicatorSwitches::vma, 1, {&P::vma_period, nullptr, nullptr}},
  };
  for (const IndicatorKey& k : kIndicators) {
    if (key == std::string(k.name) + "表示") {
      if (value == "ON") prefs.indicators.*k.on = true;
      if (value == "OFF") prefs.indicators.*k.on = false;
      return true;
    }
    if (key == k.name) {
      int v[3] = {0, 0, 0};
      if (parse_indicator_params(value, k.count, v)) {
        for (int i = 0; i < k.count; ++i) prefs.params.*k.params[i] = v[i];
      }
      return true;
    }
  }
  struct List {
    const char* key;
    ComboPrefs ChartPrefs::*combo;
  };
  static const List kLists[] = {
      {"期間", &ChartPrefs::period},
      {"MA1", &ChartPrefs::ma1},
      {"MA2", &ChartPrefs::ma2},
      {"RSI", &ChartPrefs::rsi_period},
      {"σバンド", &ChartPrefs::band_period},
      {"足", &ChartPrefs::bar_unit},
  };
  for (const List& l : kLists) {
    ComboPrefs& c = prefs.*l.combo;
    const bool free_text = l.combo == &ChartPrefs::bar_unit;
    if (key == l.key) {
      if (value == "CLEAR") {
        c.items.clear();
      } else if (free_text || parse_number(value) > 0) {
        c.items.push_back(value);
      }
      return true;
    }
    if (key == std::string(l.key) + "_初期値") {
      c.text = value;
      return true;
    }
  }
  return false;
}

bool parse_indicator_params(std::string_view text, int count, int* out) {
  // "12/26/9": the fields of init.txt are separated by commas, so the numbers take a slash.
  std::vector<int> values;
  const std::string t = trim_blanks(text);
  std::size_t start = 0;
  while (start <= t.size()) {
    const std::size_t slash = t.find('/', start);
    const std::string part = trim_blanks(std::string_view(t).substr(
        start, slash == std::string::npos ? std::string::npos : slash - start));
    if (part.empty() || part.size() > 4 ||
        part.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const int v = std::stoi(part);
    if (v < kMinPeriod || v > kMaxPeriod) return false;
    values.push_back(v);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (static_cast<int>(values.size()) != count) return false;
  for (int i = 0; i < count; ++i) out[i] = values[static_cast<std::size_t>(i)];
  return true;
}

bool read_chart_prefs(const std::string& path, ChartPrefs& prefs, const YieldFn& yield) {
  return read_key_values(path, [&](const std::string& key, const std::string& value) {
    apply_chart_pref(prefs, key, value);
    yield_now(yield);
  });
}

bool is_valid_code_text(std::string_view text) {
  const std::string t = trim_blanks(text);
  if (cp_count(t) != 4) return false;
  if (is_alphanumeric_stock_code(t)) return true;
  const double v = parse_number(t);
  return v > 1000 && v < 10000;
}

std::optional<std::string> clamp_period_text(std::string_view text) {
  const double v = parse_number(text);
  if (v < kMinPeriod || v > kMaxPeriod) return std::to_string(clamp_period(v));
  return std::nullopt;
}

int period_days(std::string_view text) {
  return clamp_period(std::trunc(parse_number(text)));
}

void CodeHistory::push_front(std::deque<std::string>& list, const std::string& code) {
  if (list.size() >= kLimit) list.pop_back();
  list.push_front(code);
}

void CodeHistory::loaded(const std::string& code) {
  if (!back_.empty() && back_.front() == code) return;
  if (!fwd_.empty() && fwd_.front() == code) {
    push_front(back_, code);
    fwd_.pop_front();
    return;
  }
  push_front(back_, code);
}

std::optional<std::string> CodeHistory::back() {
  if (!can_back()) return std::nullopt;
  push_front(fwd_, back_.front());
  back_.pop_front();
  return back_.front();
}

std::optional<std::string> CodeHistory::forward() {
  if (!can_forward()) return std::nullopt;
  std::string code = fwd_.front();
  push_front(back_, code);
  fwd_.pop_front();
  return code;
}

std::optional<int> stepping_year(const std::string& db_folder, std::string_view today) {
  const int year = static_cast<int>(parse_integer(today.substr(0, 4)));
  for (int y = year; y >= year - 2; --y) {
    CsvFile file;
    if (!file.open(series_file_path(db_folder, y, "1301"))) continue;
    file.skip(4);
    const std::string_view newest = file.next_or_empty();
    return static_cast<int>(
        parse_integer(newest.substr(0, std::min<std::size_t>(4, newest.size()))));
  }
  return std::nullopt;
}

std::vector<std::string> code_files_of_year(const std::string& db_folder, int year) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(fs::path(year_folder(db_folder, year)) / "data_m", ec);
  if (ec) return names;
  for (const fs::directory_entry& e : it) {
    if (sweep_temp_file(e.path())) continue;
    const std::string name = e.path().filename().string();
    if (name.size() != 8 || name.substr(4) != ".csv") continue;
    if (!is_stock_code(std::string_view(name).substr(0, 4))) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (std::string& n : names) n.resize(4);
  return names;
}

std::string step_code(const std::vector<std::string>& codes, std::string_view current,
                      StepDirection direction) {
  if (codes.empty()) return {};
  // Codes order as text ("1301" < "130A" < "1311"); for four digits that is their numeric order.
  const std::string cur = trim_blanks(current);
  auto value = [](const std::string& c) -> const std::string& { return c; };
  if (direction == StepDirection::kDown) {
    if (cur > value(codes.front())) {
      for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        if (value(*it) < cur) return *it;
      }
    }
    return codes.back();
  }
  if (cur < value(codes.back())) {
    for (const std::string& c : codes) {
      if (value(c) > cur) return c;
    }
  }
  return codes.front();
}

}  // namespace lp::chart
