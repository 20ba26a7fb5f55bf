#include "ledger/pages.h"

#include <xlsxwriter.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace lp::ledger {

Cell text_cell(std::string text) {
  return Cell{CellKind::text, std::move(text), 0, false};
}

Cell number_cell(CellKind kind, double v) {
  Cell c{kind, {}, v, true};
  switch (kind) {
    case CellKind::yen:
      c.text = format_pattern(v, "#,##0");
      break;
    case CellKind::shares:
      c.text = format_pattern(v, "#,##0.####");
      if (!c.text.empty() && c.text.back() == '.') c.text.pop_back();
      break;
    case CellKind::price:
      c.text = format_pattern(v, "#,##0.####");
      if (!c.text.empty() && c.text.back() == '.') c.text.pop_back();
      break;
    case CellKind::percent:
      c.text = format_pattern(v, "0.00") + "%";
      break;
    case CellKind::date:
      c.text = date_text(static_cast<int>(v));
      break;
    case CellKind::text:
      break;
  }
  return c;
}

Cell yen_cell(std::int64_t yen) {
  return number_cell(CellKind::yen, static_cast<double>(yen));
}

namespace {

Cell shares_cell(std::int64_t shares) {
  return number_cell(CellKind::shares, static_cast<double>(shares) / kFixed);
}

Cell none() {
  return text_cell("-");
}

}  // namespace

Table trades_table(const std::vector<Transaction>& list) {
  Table t{"取引",
          {"No", "日付", "区分", "コード", "株数", "単価", "金額", "手数料", "税額", "口座"},
          {}};
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Transaction& x = list[i];
    t.rows.push_back(
        {number_cell(CellKind::shares, static_cast<double>(i + 1)),
         number_cell(CellKind::date, x.date), text_cell(std::string(kind_name(x.kind))),
         text_cell(x.code), x.shares ? shares_cell(x.shares) : none(),
         x.price ? number_cell(CellKind::price, static_cast<double>(x.price) / kFixed) : none(),
         yen_cell(x.amount), yen_cell(x.fee), yen_cell(x.tax),
         text_cell(std::string(account_name(x.account)))});
  }
  return t;
}

Table holdings_table(const PnlReport& r) {
  Table t{"保有",
          {"コード", "銘柄", "口座", "株数", "取得単価", "取得額", "現在値", "評価額", "評価損益"},
          {}};
  for (const HoldingRow& h : r.holdings) {
    t.rows.push_back(
        {text_cell(h.code), text_cell(h.name), text_cell(std::string(account_name(h.account))),
         shares_cell(h.shares), yen_cell(h.unit_cost), yen_cell(h.cost),
         h.priced ? number_cell(CellKind::price, h.close) : none(),
         h.priced ? yen_cell(h.value) : none(), h.priced ? yen_cell(h.unrealised) : none()});
  }
  return t;
}

Table sales_table(const PnlReport& r) {
  Table t{"売却", {"日付", "コード", "口座", "株数", "売却額", "取得費", "実現損益"}, {}};
  for (const Sale& s : r.sales) {
    t.rows.push_back({number_cell(CellKind::date, s.date), text_cell(s.code),
                      text_cell(std::string(account_name(s.account))), shares_cell(s.shares),
                      yen_cell(s.proceeds), yen_cell(s.cost), yen_cell(s.gain)});
  }
  return t;
}

Table year_table(const PnlReport& r) {
  Table t{
      "年間損益", {"口座", "実現益", "実現損", "実現損益", "配当（税引前）", "源泉徴収税額"}, {}};
  for (Account a : kAccounts) {
    const YearAccount& y = r.tax.accounts[static_cast<std::size_t>(a)];
    t.rows.push_back({text_cell(std::string(account_name(a))), yen_cell(y.gains),
                      yen_cell(y.losses), yen_cell(y.realised()), yen_cell(y.dividends),
                      yen_cell(r.tax.withheld[static_cast<std::size_t>(a)])});
  }
  t.rows.push_back({text_cell("合計"), text_cell(""), text_cell(""), yen_cell(r.tax.realised),
                    yen_cell(r.tax.dividends), yen_cell(r.tax.tax_withheld)});
  t.rows.push_back({text_cell("損益通算後の課税対象"), text_cell(""), text_cell(""),
                    yen_cell(r.tax.taxable_net), text_cell(""), text_cell("")});
  t.rows.push_back({text_cell("税額（20.315%）"), text_cell(""), text_cell(""), text_cell(""),
                    text_cell(""), yen_cell(r.tax.tax_due)});
  t.rows.push_back({text_cell(r.tax.tax_balance >= 0 ? "申告で納める税額" : "申告で戻る税額"),
                    text_cell(""), text_cell(""), text_cell(""), text_cell(""),
                    yen_cell(std::llabs(r.tax.tax_balance))});
  return t;
}

Table nisa_table(const PnlReport& r) {
  Table t{"NISA", {"枠", "使用", "残り", "上限"}, {}};
  auto row = [&](const char* name, std::int64_t used, std::int64_t limit) {
    t.rows.push_back({text_cell(name), yen_cell(used),
                      yen_cell(std::max<std::int64_t>(0, limit - used)), yen_cell(limit)});
  };
  row("成長投資枠（年間）", r.nisa.growth_used, kNisaGrowthYear);
  row("つみたて投資枠（年間）", r.nisa.tsumitate_used, kNisaTsumitateYear);
  row("生涯投資枠", r.nisa.lifetime_used, kNisaLifetime);
  row("うち成長投資枠", r.nisa.growth_lifetime_used, kNisaGrowthLifetime);
  return t;
}

Table dividend_table(const DividendCalendar& c) {
  Table t{"配当", {"月", "実績", "予想"}, {}};
  std::int64_t actual = 0, expected = 0;
  for (int m = 0; m < 12; ++m) {
    const std::size_t k = static_cast<std::size_t>(m);
    t.rows.push_back(
        {text_cell(std::to_string(m + 1) + "月"), yen_cell(c.actual[k]), yen_cell(c.expected[k])});
    actual += c.actual[k];
    expected += c.expected[k];
  }
  t.rows.push_back({text_cell("年間"), yen_cell(actual), yen_cell(expected)});
  return t;
}

Table returns_table(const Performance& p) {
  Table t{"成績", {"日付", "評価額", "時間加重（100起点）", "基準指数（100起点）"}, {}};
  auto maybe = [](const std::optional<double>& v) {
    return v ? number_cell(CellKind::percent, *v) : text_cell("-");
  };
  t.rows.push_back({text_cell("時間加重収益率"), number_cell(CellKind::percent, p.twr),
                    text_cell(""), text_cell("")});
  t.rows.push_back(
      {text_cell("金額加重収益率（年率）"), maybe(p.irr), text_cell(""), text_cell("")});
  t.rows.push_back({text_cell("基準指数"), maybe(p.benchmark), text_cell(""), text_cell("")});
  for (const ValuePoint& v : p.points) {
    t.rows.push_back({number_cell(CellKind::date, v.date),
                      yen_cell(static_cast<std::int64_t>(std::llround(v.value))),
                      number_cell(CellKind::price, std::round(v.index * 100) / 100),
                      number_cell(CellKind::price, std::round(v.benchmark * 100) / 100)});
  }
  return t;
}

bool export_xlsx(const std::vector<Table>& tables, const std::string& path, std::string& error) {
  std::filesystem::path temp;
  if (!create_temp_file(path, temp)) {
    error = "「" + path + "」に書き込めません。";
    return false;
  }
  lxw_workbook* wb = workbook_new(temp.c_str());
  if (!wb) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    error = "Excelファイルを作れません。";
    return false;
  }
  lxw_format* caption = workbook_add_format(wb);
  format_set_bold(caption);
  lxw_format* yen = workbook_add_format(wb);
  format_set_num_format(yen, "#,##0");
  lxw_format* shares = workbook_add_format(wb);
  format_set_num_format(shares, "#,##0.####");
  lxw_format* percent = workbook_add_format(wb);
  format_set_num_format(percent, "0.00%");
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format(date, "yyyy/mm/dd");
  for (const Table& t : tables) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, t.name.c_str());
    for (std::size_t c = 0; c < t.captions.size(); ++c) {
      worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), t.captions[c].c_str(), caption);
      worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), 14, nullptr);
    }
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      const auto row = static_cast<lxw_row_t>(r + 1);
      for (std::size_t c = 0; c < t.rows[r].size(); ++c) {
        const Cell& cell = t.rows[r][c];
        const auto col = static_cast<lxw_col_t>(c);
        if (!cell.has_number) {
          if (!cell.text.empty()) worksheet_write_string(ws, row, col, cell.text.c_str(), nullptr);
          continue;
        }
        switch (cell.kind) {
          case CellKind::date: {
            const int d = static_cast<int>(cell.number);
            lxw_datetime dt{d / 10000, d / 100 % 100, d % 100, 0, 0, 0};
            worksheet_write_datetime(ws, row, col, &dt, date);
            break;
          }
          case CellKind::percent:
            worksheet_write_number(ws, row, col, cell.number / 100, percent);
            break;
          case CellKind::yen:
            worksheet_write_number(ws, row, col, cell.number, yen);
            break;
          default:
            worksheet_write_number(ws, row, col, cell.number, shares);
            break;
        }
      }
    }
    worksheet_freeze_panes(ws, 1, 0);
  }
  const lxw_error err = workbook_close(wb);
  if (err != LXW_NO_ERROR) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    error = std::string("Excelファイルを作れません: ") + lxw_strerror(err);
    return false;
  }
  if (!commit_temp_file(temp, path, true)) {
    error = "「" + path + "」に書き込めません。";
    return false;
  }
  return true;
}

}  // namespace lp::ledger
