// lumenpick-cli backtest: a screen run as of every signal day over a period, its picks bought
// the next day and held, the figures printed and written as files.
#include <QGuiApplication>
#include <QString>
#include <iostream>
#include <memory>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "backtest/equity_painter.h"
#include "backtest/screen_backtest.h"
#include "common/numbers.h"
#include "screening/formula/formula_step.h"

namespace lp::cli {
namespace {

bool positive_int(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  out = std::stoi(text);
  return out >= 1;
}

// The account mode's options as typed; `given`: --capital was there (the account mode), and
// without it no account option may be.
bool account_settings(Context& ctx, bool& given, backtest::AccountSettings& o,
                      std::string& error) {
  given = ctx.take_option("--capital", o.capital);
  bool any = false;
  for (auto [name, value] : {std::pair<const char*, std::string*>{"--max-positions", &o.positions},
                             {"--stop", &o.stop},
                             {"--target", &o.target},
                             {"--trail", &o.trail},
                             {"--min-turnover", &o.turnover},
                             {"--commission", &o.commission},
                             {"--slippage", &o.slippage},
                             {"--rank", &o.rank},
                             {"--exit", &o.exit}}) {
    if (ctx.take_option(name, *value)) any = true;
  }
  o.rank_asc = ctx.take_flag("--rank-asc");
  if (!given && (any || o.rank_asc)) {
    error = "--max-positions などの口座の設定には --capital が必要です";
    return false;
  }
  o.account = given;
  return true;
}

int cmd_backtest(Context& ctx) {
  backtest::Params params;
  std::string every = "1", hold = "20", out;
  const bool has_from = ctx.take_option("--from", params.from);
  const bool has_to = ctx.take_option("--to", params.to);
  ctx.take_option("--every", every);
  const bool hold_given = ctx.take_option("--hold", hold);
  const bool has_out = ctx.take_option("--out", out);
  backtest::AccountSettings settings;
  backtest::AccountOptions account;
  bool account_mode = false;
  std::string problem;
  if (!account_settings(ctx, account_mode, settings, problem)) return fail("backtest: " + problem);
  if (!has_from || !has_to) return fail("backtest: --from YYYYMMDD と --to YYYYMMDD が必要です");
  if (!valid_yyyymmdd(params.from) || !valid_yyyymmdd(params.to)) {
    return fail("backtest: --from と --to は YYYYMMDD で指定してください");
  }
  if (parse_integer(params.from) > parse_integer(params.to)) {
    return fail("backtest: --from が --to より後の日付です");
  }
  if (!positive_int(every, params.every))
    return fail("backtest: --every は1以上の整数で指定してください");
  // In the account mode --hold 0 turns the hold off; without --hold the hold of 20 days
  // applies only when no other exit is given.
  if (account_mode) {
    if (hold_given) settings.hold = hold;
    if (!backtest::account_options_of(settings, account, problem))
      return fail("backtest: " + problem);
  } else if (!positive_int(hold, params.hold)) {
    return fail("backtest: --hold は1以上の整数で指定してください");
  }

  // The saved screen's name names the output folder; the options are read again below.
  std::string screen_name = "screen";
  for (std::size_t i = 0; i + 1 < ctx.args.size(); ++i) {
    if (ctx.args[i] == "--screen") screen_name = ctx.args[i + 1];
  }
  screening::ScreeningSession session(ctx.platform, nullptr);
  if (!build_state(ctx, session, problem)) return fail("backtest: " + problem);
  if (const std::string bad = screening::check_formula_rows(session.controls()); !bad.empty()) {
    return fail(bad);
  }
  if (const std::string none =
          screening::check_fins_available(session.controls(), session.source());
      !none.empty()) {
    return fail(none, 2);
  }
  if (!backtest::any_criterion_ticked(session.controls())) {
    return fail("backtest: 選択条件が一つもチェックされていません");
  }
  backtest::Job job;
  job.platform = ctx.platform;
  job.controls = session.controls();
  job.params = params;
  job.screen_name = screen_name;
  if (has_out) job.out_dir = out;
  if (account_mode) job.account = account;
  std::unique_ptr<QGuiApplication> app;
  job.picture = [&job, &app](const backtest::Result& r) {
    // Fonts need a GUI application (made only once there is a picture to draw); the
    // offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lumenpick-cli";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app = std::make_unique<QGuiApplication>(argc, argv);
    return backtest::equity_png(r, backtest::equity_title(job.screen_name, r.params)).toStdString();
  };
  job.account_picture = [&job, &app](const backtest::AccountResult& r) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lumenpick-cli";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app = std::make_unique<QGuiApplication>(argc, argv);
    return backtest::account_png(r, backtest::account_title(job.screen_name, job.params, r.params))
        .toStdString();
  };
  const backtest::JobOutcome outcome = backtest::run_job(job);
  if (!outcome.error.empty()) return fail("backtest: " + outcome.error);
  if (outcome.account_mode) {
    std::cout << backtest::report_text(outcome.account, outcome.stats);
    if (outcome.stats.few_trades) std::cerr << backtest::kFewTradesWarning << "\n";
    return 0;
  }
  const backtest::Result& result = outcome.result;
  std::cout << backtest::summary_text(result);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("backtest",
               "backtest [--screen NAME] [--init FILE] [--markets 0,1,2,3,4,5] "
               "[--criteria 1,8,...] [--set NAME=VALUE ...] [--formula TEXT ...] [--show TEXT] "
               "[--sector 業種,...|all] --from YYYYMMDD --to YYYYMMDD [--every K] [--hold N] [--out DIR] "
               "[--capital YEN [--max-positions K] [--rank TEXT] [--rank-asc] [--stop PCT] "
               "[--target PCT] [--trail PCT] [--exit TEXT] [--min-turnover YEN] "
               "[--commission SPEC] [--slippage PCT]]",
               "runs the screen as of every K-th trading day from..to, buys its picks at the next "
               "open, sells at the close of the N-th day, prints the summary and writes "
               "trades.csv, summary.csv, equity.csv and equity.png; with --capital, an account "
               "of at most K positions in 100-share units with stop, target, trailing and "
               "formula exits and costs, printing the report and writing stats.txt and "
               "monthly.csv too",
               cmd_backtest);

}  // namespace lp::cli
