#include "watch/watch_report.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "common/csv.h"
#include "common/shared_settings.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "watch/run_record.h"
#include "watch/watch_run.h"

namespace lp::watch {

namespace {

namespace fs = std::filesystem;

std::string date_text(const std::string& d) {
  if (d.size() != 8) return d;
  return d.substr(0, 4) + "年" + std::to_string(parse_integer(d.substr(4, 2))) + "月" +
         std::to_string(parse_integer(d.substr(6, 2))) + "日";
}

// The grids' patterns keep their point when no decimal follows ("110."); a report does not.
std::string number_text(double v, const char* pattern) {
  std::string t = format_pattern(v, pattern);
  if (!t.empty() && t.back() == '.') t.pop_back();
  return t;
}

std::string signed_text(double v, const char* pattern) {
  return (v > 0 ? "+" : "") + number_text(v, pattern);
}

// Rise red, fall blue, unchanged green: the Japanese convention of the whole program.
const char* tone(double change) {
  return change > 0 ? "up" : change < 0 ? "down" : "flat";
}

constexpr const char* kStyle = R"(
:root{--ink:#1f2937;--muted:#6b7280;--line:#e5e7eb;--bg:#f6f7fb;--card:#fff;--accent:#1d4ed8}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--ink);font-family:"Noto Sans CJK JP","Noto Sans JP","IPAGothic",sans-serif;font-size:15px;line-height:1.5}
header{background:linear-gradient(120deg,#1e3a8a,#2563eb);color:#fff;padding:22px 32px}
header h1{margin:0;font-size:24px;font-weight:700}
header p{margin:4px 0 0;opacity:.85}
main{max-width:1100px;margin:0 auto;padding:20px 24px 40px}
.card{background:var(--card);border:1px solid var(--line);border-radius:10px;padding:18px 22px;margin:0 0 18px;box-shadow:0 1px 2px rgba(0,0,0,.04)}
.card h2{margin:0 0 10px;font-size:19px}
.summary{display:flex;gap:14px;flex-wrap:wrap}
.stat{flex:1 1 180px;border:1px solid var(--line);border-radius:8px;padding:10px 14px}
.stat .label{color:var(--muted);font-size:13px}
.stat .value{font-size:22px;font-weight:700}
.up{color:#d00000}.down{color:#0033cc}.flat{color:#008a00}
header #notice{display:inline-block;background:#fff;color:#b00020;padding:2px 8px;border-radius:4px;opacity:1}
.counts{color:var(--muted);font-size:13px;margin-left:8px;font-weight:400}
table{border-collapse:collapse;width:100%;margin:6px 0 4px}
th,td{padding:6px 10px;border-bottom:1px solid var(--line);text-align:left}
th{color:var(--muted);font-weight:600;font-size:13px}
td.num{text-align:right;font-variant-numeric:tabular-nums}
.tag{display:inline-block;border-radius:4px;padding:1px 8px;font-size:12px;font-weight:700}
.tag.new{background:#fee2e2;color:#b91c1c}.tag.cont{background:#e5e7eb;color:#374151}.tag.out{background:#dbeafe;color:#1e40af}
.charts{display:grid;grid-template-columns:repeat(auto-fill,minmax(320px,1fr));gap:12px;margin-top:12px}
figure{margin:0;border:1px solid var(--line);border-radius:8px;padding:8px;background:#fff}
figure img{width:100%;height:auto;display:block}
figcaption{font-size:13px;color:var(--muted);margin-top:4px}
.error{color:#b91c1c;font-weight:600}
.prev{color:var(--muted);font-size:13px}
details{margin:6px 0}summary{cursor:pointer;color:var(--muted);font-weight:600}
.empty{color:var(--muted)}
footer{color:var(--muted);font-size:12px;text-align:center;padding:10px}
)";

// `today` (the 除外 rows): the day's closes and values, shown beside yesterday's.
void hit_rows(std::string& html, const std::vector<Hit>& hits, const char* tag_class,
              const char* tag_text, HitValuation* valuation,
              const ScreenDay* today = nullptr) {
  for (const Hit& h : hits) {
    std::string close = html_escape(shown_price(h.close));
    std::string value = html_escape(shown_value(h.value, true));
    if (today) {
      const auto c = today->dropped_close.find(h.code);
      const auto v = today->dropped_value.find(h.code);
      const std::string close_now =
          c == today->dropped_close.end() || c->second.empty() ? "-" : shown_price(c->second);
      const std::string value_now =
          v == today->dropped_value.end() ? "-" : shown_value(v->second, true);
      close = html_escape(close_now) + " <span class=\"prev\">（前日 " + close + "）</span>";
      if (value != "-" || value_now != "-")
        value = html_escape(value_now) + " <span class=\"prev\">（前日 " + value + "）</span>";
    }
    html += "<tr><td><span class=\"tag " + std::string(tag_class) + "\">" + tag_text +
            "</span></td><td>" + html_escape(h.code) + "</td><td>" + html_escape(h.name) +
            "</td><td class=\"num\">" + close + "</td><td class=\"num\">" + value + "</td>";
    if (valuation) {
      const std::vector<std::string> cells = valuation->cells(h);
      for (std::size_t k = 0; k < cells.size(); ++k) {
        // 業種 is text; the figures are numbers.
        const bool text = k + 1 == cells.size() && valuation->captions().back() == "業種";
        html += std::string(text ? "<td>" : "<td class=\"num\">") + html_escape(cells[k]) + "</td>";
      }
    }
    html += "</tr>\n";
  }
}

}  // namespace

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string html_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    }
  }
  return out;
}

MarketSummary market_summary(const AppFolders& folders, const std::string& date) {
  MarketSummary m;
  m.date = date;
  m.reference_code = folders.reference_code;
  const std::vector<std::string> dates = trading_dates(folders);
  const auto it = std::lower_bound(dates.begin(), dates.end(), date);
  if (it == dates.end() || *it != date) return m;
  DayFile today, before;
  if (!read_day_file(day_file_path(folders.db_folder, date), today)) return m;
  m.found = true;
  std::map<std::string, double> previous;
  if (it != dates.begin()) {
    m.previous_date = *(it - 1);
    if (read_day_file(day_file_path(folders.db_folder, m.previous_date), before)) {
      for (const PriceRecord& r : before.rows) {
        if (!trim_view(r.close).empty()) previous[trim_blanks(r.code)] = parse_number(r.close);
      }
    }
  }
  for (const PriceRecord& r : today.rows) {
    if (trim_view(r.close).empty()) continue;
    const std::string code = trim_blanks(r.code);
    const double close = parse_number(r.close);
    const auto p = previous.find(code);
    if (code == folders.reference_code) {
      m.reference_name = clean_company_marker(trim_view(r.name));
      m.reference_close = close;
      if (p != previous.end() && p->second > 0) {
        m.reference_found = true;
        m.reference_change = close - p->second;
        m.reference_change_pct = (close - p->second) / p->second * 100.0;
      }
      continue;  // the index is not a stock that rose or fell
    }
    if (p == previous.end()) continue;
    if (close > p->second) {
      ++m.advancers;
    } else if (close < p->second) {
      ++m.decliners;
    } else {
      ++m.unchanged;
    }
  }
  return m;
}

std::vector<ScreenDay> screen_days(const std::string& user_folder, const std::string& date,
                                   const TradedOn& traded, const std::string& db_folder,
                                   const ValuesOf& values) {
  std::vector<ScreenDay> out;
  DayFile day;
  bool day_read = false;
  const std::vector<Problem> problems = read_problems(user_folder);
  for (const WatchedScreen& ws : watched_screens(user_folder)) {
    ScreenDay sd;
    sd.name = ws.name;
    sd.universe = ws.marks.universe;
    const std::vector<Block> history = read_history(user_folder, ws.name);
    if (find_block(history, date)) {
      sd.has_block = true;
      sd.changes = compare_day(history, date, traded);
      if (!sd.changes.dropped.empty() && !db_folder.empty() && !day_read) {
        day_read = true;
        read_day_file(day_file_path(db_folder, date), day, false);
      }
      std::vector<std::string> codes;
      for (const Hit& h : sd.changes.dropped) {
        codes.push_back(h.code);
        for (const PriceRecord& r : day.rows) {
          if (trim_view(r.code) == h.code) sd.dropped_close[h.code] = trim_blanks(r.close);
        }
      }
      if (values && !codes.empty()) sd.dropped_value = values(ws.name, codes);
    }
    for (const Problem& p : problems) {
      if (p.screen == ws.name) sd.error = p.reason;
    }
    out.push_back(std::move(sd));
  }
  return out;
}

std::string report_html(const std::string& date, const std::vector<ScreenDay>& screens,
                        const MarketSummary& market, const ChartPicture& chart,
                        const std::string& notice, HitValuation* valuation) {
  int entered = 0;
  for (const ScreenDay& s : screens) entered += static_cast<int>(s.changes.entered.size());
  std::string html;
  html += "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">\n";
  html += "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n";
  const std::string age = market.data_age.empty() ? "" : "　" + html_escape(market.data_age);
  html += "<title>LumenPick 監視レポート " + date_text(date) + age + "</title>\n<style>";
  html += kStyle;
  html +=
      "</style></head><body>\n<header><h1>監視レポート　" + date_text(date) + age + "</h1><p>監視条件 " +
      std::to_string(screens.size()) + " 件・新規 " + std::to_string(entered) + " 銘柄</p>" +
      (notice.empty() ? "" : "<p class=\"down\" id=\"notice\">" + html_escape(notice) + "</p>") +
      "</header>\n<main>\n";

  html += "<section class=\"card\" id=\"market\"><h2>市場概況</h2>";
  if (!market.found) {
    html += "<p class=\"empty\">この日の株価データがありません。</p>";
  } else {
    html += "<div class=\"summary\">";
    html += "<div class=\"stat\"><div class=\"label\">基準 " + html_escape(market.reference_code) +
            " " + html_escape(market.reference_name) + "</div>";
    if (market.reference_found) {
      const char* t = tone(market.reference_change);
      html += "<div class=\"value " + std::string(t) + "\">" +
              number_text(market.reference_close, "#,##0.##") + "</div><div class=\"" + t + "\">" +
              signed_text(market.reference_change, "#,##0.##") + "（" +
              signed_text(market.reference_change_pct, "0.00") + "%）</div>";
    } else {
      html += "<div class=\"value\">-</div>";
    }
    html += "</div>";
    html += "<div class=\"stat\"><div class=\"label\">値上がり</div><div class=\"value up\">" +
            std::to_string(market.advancers) + "</div></div>";
    html += "<div class=\"stat\"><div class=\"label\">値下がり</div><div class=\"value down\">" +
            std::to_string(market.decliners) + "</div></div>";
    html += "<div class=\"stat\"><div class=\"label\">変わらず</div><div class=\"value flat\">" +
            std::to_string(market.unchanged) + "</div></div>";
    html += "</div>";
    if (!market.previous_date.empty())
      html += "<p class=\"counts\">前営業日 " + date_text(market.previous_date) + " との比較</p>";
  }
  html += "</section>\n";

  int charts = 0, skipped = 0;
  for (const ScreenDay& s : screens) {
    html += "<section class=\"card screen\"><h2>" + html_escape(s.name);
    if (s.has_block) {
      html += "<span class=\"counts\">該当 " +
              std::to_string(s.changes.entered.size() + s.changes.continuing.size()) + "・新規 " +
              std::to_string(s.changes.entered.size()) + "・除外 " +
              std::to_string(s.changes.dropped.size()) + "</span>";
    }
    html += "</h2>\n";
    if (!s.universe.empty())
      html += "<p class=\"counts\">対象: " + html_escape(s.universe) + "</p>";
    if (!s.error.empty())
      html += "<p class=\"error\">実行できませんでした: " + html_escape(s.error) + "</p>\n";
    if (!s.has_block) {
      html += "<p class=\"empty\">この日の結果はありません。</p></section>\n";
      continue;
    }
    if (s.changes.entered.empty() && s.changes.continuing.empty() && s.changes.dropped.empty()) {
      html += "<p class=\"empty\">該当銘柄はありません。</p></section>\n";
      continue;
    }
    // What changed first; the 継続 rows, often most of them, folded below.
    std::string head = "<tr><th></th><th>コード</th><th>銘柄名</th><th>終値</th><th>表示値</th>";
    if (valuation) {
      for (const std::string& c : valuation->captions()) head += "<th>" + html_escape(c) + "</th>";
    }
    head += "</tr>\n";
    if (!s.changes.entered.empty() || !s.changes.dropped.empty()) {
      html += "<table class=\"changes\">" + head;
      hit_rows(html, s.changes.entered, "new", "新規", valuation);
      hit_rows(html, s.changes.dropped, "out", "除外", valuation, &s);
      html += "</table>\n";
    } else {
      html += "<p class=\"empty\">新規・除外はありません。</p>\n";
    }
    if (!s.changes.continuing.empty()) {
      html += "<details class=\"continuing\"><summary>継続 " +
              std::to_string(s.changes.continuing.size()) + " 銘柄</summary><table>" + head;
      hit_rows(html, s.changes.continuing, "cont", "継続", valuation);
      html += "</table></details>\n";
    }
    if (!s.changes.entered.empty() && chart) {
      html += "<div class=\"charts\">\n";
      for (const Hit& h : s.changes.entered) {
        if (charts >= kMaxReportCharts) {
          ++skipped;
          continue;
        }
        const std::string png = chart(h.code, date);
        if (png.empty()) continue;
        ++charts;
        html += "<figure class=\"chart\"><img alt=\"" + html_escape(h.code) +
                "\" src=\"data:image/png;base64," + base64(png) + "\"><figcaption>" +
                html_escape(h.code) + " " + html_escape(h.name) + "（120日・移動平均2本）" +
                "</figcaption></figure>\n";
      }
      html += "</div>\n";
    }
    html += "</section>\n";
  }
  if (skipped > 0)
    html += "<p class=\"counts\">ほか " + std::to_string(skipped) +
            " 銘柄のチャートは省略しました。</p>";
  if (screens.empty())
    html +=
        "<section class=\"card\"><p class=\"empty\">監視する保存条件がありません。"
        "スクリーニング画面で「監視」にチェックを付けてください。</p></section>";
  html += "</main><footer>LumenPick</footer></body></html>\n";
  return html;
}

std::string report_path(const std::string& user_folder, const std::string& date) {
  return user_folder + "reports/" + date + ".html";
}

bool write_report(const AppFolders& folders, const std::string& date, const ChartPicture& chart,
                  std::string& path, std::string& error, const ValuesOf& values,
                  const std::string& data_age) {
  path = report_path(folders.user_folder, date);
  MarketSummary market = market_summary(folders, date);
  market.data_age = data_age.empty() ? chosen_data_age_text(folders.app_folder, date) : data_age;
  HitValuation valuation(SeriesSource::from(folders), date);
  const std::string html = report_html(
      date,
      screen_days(folders.user_folder, date, day_file_trades(folders.db_folder), folders.db_folder,
                  values),
      market, chart, run_notice(read_run_record(folders.user_folder)), &valuation);
  if (!make_own_folder(fs::path(path).parent_path().string(), error)) return false;
  if (!write_file_atomic(path, html, true)) {
    error = "レポート " + path + " を書き込めません。";
    return false;
  }
  return true;
}

std::string latest_history_date(const std::string& user_folder) {
  std::string latest;
  for (const WatchedScreen& ws : watched_screens(user_folder)) {
    const std::vector<Block> h = read_history(user_folder, ws.name);
    if (!h.empty() && h.back().date > latest) latest = h.back().date;
  }
  return latest;
}

}  // namespace lp::watch
