// lumenpick-cli screen: the screening window's run without the window.
#include <iostream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "common/encoding.h"
#include "pricedb/sectors.h"
#include "screening/formula/formula_step.h"
#include "screening/preferences.h"
#include "screening/saved_screens.h"
#include "screening/screening_session.h"
#include "shell/startup.h"
#include "watch/watch_run.h"

namespace lp::cli {
namespace {

using lp::screening::ScreeningSession;
using lp::screening::TextColor;

struct CliUi : lp::screening::ScreeningUi {
  void message(const std::string& text, TextColor color) override {
    if (color == TextColor::red) error = text;
  }
  std::string error;
};

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, sep)) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

}  // namespace

bool valid_yyyymmdd(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int month = std::stoi(text.substr(4, 2));
  const int day = std::stoi(text.substr(6, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool build_state(Context& ctx, ScreeningSession& session, std::string& error,
                 lp::screening::ScreenMarks* marks) {
  std::string init_path, markets, criteria, screen, value, show, universe;
  const bool has_universe = ctx.take_option("--universe", universe);
  const bool has_init = ctx.take_option("--init", init_path);
  const bool has_screen = ctx.take_option("--screen", screen);
  const bool has_markets = ctx.take_option("--markets", markets);
  const bool has_criteria = ctx.take_option("--criteria", criteria);
  const bool has_show = ctx.take_option("--show", show);
  std::string sector;
  const bool has_sector = ctx.take_option("--sector", sector);
  std::vector<std::string> sets, formulas;
  while (ctx.take_option("--set", value)) sets.push_back(value);
  while (ctx.take_option("--formula", value)) formulas.push_back(value);
  if (!ctx.args.empty()) {
    error = "余分な引数です: " + ctx.args.front();
    return false;
  }
  if (has_init && has_screen) {
    error = "--init と --screen はどちらも条件全体を指定します。どちらか一方にしてください";
    return false;
  }
  // A screening may be the very first run: set up the product folder and its templates as the
  // desktop program's first start does, so settei.txt and init.txt are the shipped ones.
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);

  session.load(false);  // built-in values; the preferences file or saved screen comes next
  lp::screening::ScreenMarks loaded;
  if (has_screen) {
    if (!lp::screening::load_screen(session.folders().user_folder, screen, session.controls(),
                                    loaded, error)) {
      return false;
    }
  } else {
    if (!has_init) init_path = session.folders().app_folder + "init.txt";
    lp::screening::read_init_sel(session.controls(), init_path);
  }

  if (has_criteria) {
    for (int n = 1; n <= 40; ++n)
      session.controls().set_checked(lp::screening::indexed("pr_chk", n), false);
    for (const auto& n : split(criteria, ',')) {
      if (n.find_first_not_of("0123456789") != std::string::npos || n.size() > 2 ||
          std::stoi(n) > 40 ||
          !lp::screening::apply_control_value(session.controls(), "pr_chk(" + n + ")", "1")) {
        error = "選択条件 " + n + " はありません";
        return false;
      }
    }
  }
  for (const auto& s : sets) {
    const auto eq = s.find('=');
    if (eq == std::string::npos) {
      error = "--set は NAME=VALUE で指定してください: " + s;
      return false;
    }
    const std::string name = s.substr(0, eq);
    if (!lp::screening::apply_control_value(session.controls(), name, s.substr(eq + 1))) {
      error = "不明なコントロールか、使えない値です: " + s;
      return false;
    }
  }
  // Without a saved screen the market boxes start from every segment, as before.
  if (has_markets || !has_screen) {
    if (!has_markets) markets = "0,1,2,3,4,5";
    std::vector<bool> ticked(6, false);
    for (const auto& m : split(markets, ',')) {
      if (m.size() != 1 || m[0] < '0' || m[0] > '5') {
        error = "市場の枠 " + m + " はありません";
        return false;
      }
      ticked[static_cast<std::size_t>(m[0] - '0')] = true;
    }
    for (int i = 0; i < 6; ++i) {
      session.controls().set_checked(lp::screening::indexed("shijyou_chk", i),
                                     ticked[static_cast<std::size_t>(i)]);
    }
    session.controls().set_checked("shijyou_chk(6)", false);
  }

  // Each --formula takes the next unticked formula row.
  using lp::screening::kFirstFormulaRow;
  using lp::screening::kLastFormulaRow;
  for (const auto& f : formulas) {
    int row = kFirstFormulaRow;
    while (row <= kLastFormulaRow && session.controls().enabled(row)) ++row;
    if (row > kLastFormulaRow) {
      error = "式の行は五つまでです（41～45）";
      return false;
    }
    session.controls().set_checked(lp::screening::indexed("pr_chk", row), true);
    session.controls().set_text(lp::screening::formula_text_control(row), f);
  }
  if (has_show) {
    // The last formula row writes the value column, so --show belongs to it.
    int row = kLastFormulaRow;
    while (row >= kFirstFormulaRow && !session.controls().enabled(row)) --row;
    if (row < kFirstFormulaRow) {
      error = "--show には式の行（--formula）が必要です";
      return false;
    }
    session.controls().set_text(lp::screening::formula_show_control(row), show);
  }
  if (has_sector) {
    // 33-industry names or codes; "all" lifts a saved screen's choice.
    std::vector<std::string> codes;
    if (sector != "all" && !lp::sectors::parse_sector_list(sector, codes, error)) return false;
    std::string joined;
    for (const std::string& c : codes) joined += (joined.empty() ? "" : ",") + c;
    session.controls().set_text(lp::screening::kSectorControl, joined);
  }
  if (has_universe) loaded.universe = universe == "all" ? std::string() : universe;
  if (!loaded.universe.empty()) {
    std::vector<std::string> codes;
    if (!lp::watch::resolve_universe(session.folders().user_folder, loaded.universe, codes,
                                     error)) {
      return false;
    }
    session.set_universe(std::move(codes));
  }
  if (marks) *marks = loaded;
  return true;
}

namespace {

int run_screen(Context& ctx) {
  std::string as_of;
  if (ctx.take_option("--as-of", as_of) && !valid_yyyymmdd(as_of)) {
    return fail("screen: --as-of は YYYYMMDD で指定してください: " + as_of);
  }
  CliUi ui;
  ScreeningSession session(ctx.platform, &ui);
  std::string error;
  if (!build_state(ctx, session, error)) return fail("screen: " + error);
  if (!as_of.empty()) session.use_market(nullptr, as_of);

  if (!session.run()) {
    if (ui.error == lp::screening::kNoFinsMessage) return fail(ui.error, 2);
    return fail(ui.error.empty() ? "screen: 実行を開始できませんでした" : ui.error);
  }
  for (const auto& [n, count] : session.last_counts()) std::cout << n << " " << count << "\n";
  if (session.current_criterion() != -1) {
    std::string text;
    if (read_cp932_file(session.file_in_user_folder("sel0_out.csv"), text)) {
      for (char c : text) {
        if (c != '\r') std::cout << c;
      }
    }
  }
  return 0;
}

int run_screen_save(Context& ctx) {
  if (ctx.args.empty() || ctx.args.front().rfind("--", 0) == 0)
    return fail("screen-save: 名前を指定してください（screen-save NAME [screen のオプション]）");
  const std::string name = ctx.args.front();
  ctx.args.erase(ctx.args.begin());
  const bool watch = ctx.take_flag("--watch");
  CliUi ui;
  ScreeningSession session(ctx.platform, &ui);
  std::string error;
  lp::screening::ScreenMarks marks;
  if (!build_state(ctx, session, error, &marks)) return fail("screen-save: " + error);
  // Saving over a screen keeps it watched; --watch watches it (watch NAME off unwatches).
  lp::screening::ScreenMarks old;
  std::string ignored;
  const bool existed =
      lp::screening::read_screen_marks(session.folders().user_folder, name, old, ignored);
  marks.watched = watch || (existed && old.watched);
  // ... and keeps the backtest dialog's settings stored with it.
  if (existed && marks.backtest.empty()) marks.backtest = old.backtest;
  // A screen that cannot run is not worth keeping: the formulas are checked first.
  if (const std::string bad = lp::screening::check_formula_rows(session.controls()); !bad.empty())
    return fail(bad);
  if (!lp::screening::save_screen(session.folders().user_folder, name, session.controls(), marks,
                                  error))
    return fail(error);
  std::cout << "saved=" << name << "\n";
  if (marks.watched) std::cout << "watch=on\n";
  if (!marks.universe.empty())
    std::cout << "universe=" << lp::screening::normal_universe(marks.universe) << "\n";
  return 0;
}

int run_screens(Context& ctx) {
  if (!ctx.args.empty()) return fail("screens: 余分な引数です: " + ctx.args.front());
  for (const auto& name : lp::screening::list_screens(ctx.folders().user_folder))
    std::cout << name << "\n";
  return 0;
}

int run_formula_check(Context& ctx) {
  if (ctx.args.size() != 1) return fail("formula-check: 式を一つの引数で指定してください");
  lp::formula::Formula f;
  lp::formula::FormulaError e;
  if (!lp::formula::Formula::compile(ctx.args.front(), f, e)) return fail(e.text());
  if (f.uses_fins() && !lp::fins::database_has_fins(ctx.folders().db_folder)) {
    return fail(lp::screening::kNoFinsMessage, 2);
  }
  std::cout << "lookback=" << f.lookback() << "\n";
  if (f.uses_fins()) std::cout << "fins=yes\n";
  std::cout << "ok\n";
  return 0;
}

}  // namespace

LP_CLI_COMMAND("screen",
               "screen [--init FILE] [--markets 0,1,2,3,4,5] [--criteria 1,8,...] "
               "[--set NAME=VALUE ...] [--screen NAME] [--formula TEXT ...] [--show TEXT] "
               "[--universe ptf1|CODES|all] [--sector 業種,...|all] [--as-of YYYYMMDD]",
               "runs a screening like the screening window's 開始 and prints the counts and "
               "sel0_out.csv (--as-of: as if the database ended at the close of that day; "
               "--sector: only the stocks of those 33 industries, names or codes comma-separated; "
               "the 「指標」 page's boxes by --set shihyou_min_txt(1)=5 ...)",
               run_screen);

}  // namespace lp::cli

namespace lp::cli {
LP_CLI_COMMAND("screen-save",
               "screen-save NAME [--init FILE] [--markets 0,1,2,3,4,5] [--criteria 1,8,...] "
               "[--set NAME=VALUE ...] [--screen NAME] [--formula TEXT ...] [--show TEXT] "
               "[--universe ptf1|CODES|all] [--sector 業種,...|all] [--watch]",
               "stores the screening state the options give (as screen builds it) as the saved "
               "screen NAME",
               run_screen_save);
LP_CLI_COMMAND("screens", "screens", "the names of the saved screens, one a line", run_screens);
LP_CLI_COMMAND("formula-check", "formula-check TEXT",
               "checks a formula: prints lookback=N (traded days it needs), fins=yes when it "
               "reads company results, and ok, or the error with its position and exits 1 "
               "(exits 2 when it reads company results and the database holds none)",
               run_formula_check);
}  // namespace lp::cli
