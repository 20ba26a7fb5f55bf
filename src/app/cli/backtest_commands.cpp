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

int cmd_backtest(Context& ctx) {
  backtest::Params params;
  std::string every = "1", hold = "20", out;
  const bool has_from = ctx.take_option("--from", params.from);
  const bool has_to = ctx.take_option("--to", params.to);
  ctx.take_option("--every", every);
  ctx.take_option("--hold", hold);
  const bool has_out = ctx.take_option("--out", out);
  if (!has_from || !has_to) return fail("backtest: --from YYYYMMDD と --to YYYYMMDD が必要です");
  if (!valid_yyyymmdd(params.from) || !valid_yyyymmdd(params.to)) {
    return fail("backtest: --from と --to は YYYYMMDD で指定してください");
  }
  if (parse_integer(params.from) > parse_integer(params.to)) {
    return fail("backtest: --from が --to より後の日付です");
  }
  if (!positive_int(every, params.every))
    return fail("backtest: --every は1以上の整数で指定してください");
  if (!positive_int(hold, params.hold))
    return fail("backtest: --hold は1以上の整数で指定してください");

  // The saved screen's name names the output folder; the options are read again below.
  std::string screen_name = "screen";
  for (std::size_t i = 0; i + 1 < ctx.args.size(); ++i) {
    if (ctx.args[i] == "--screen") screen_name = ctx.args[i + 1];
  }
  screening::ScreeningSession session(ctx.platform, nullptr);
  std::string problem;
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
  const backtest::JobOutcome outcome = backtest::run_job(job);
  if (!outcome.error.empty()) return fail("backtest: " + outcome.error);
  const backtest::Result& result = outcome.result;
  std::cout << backtest::summary_text(result);
  return 0;
}

}  // namespace

LP_CLI_COMMAND("backtest",
               "backtest [--screen NAME] [--init FILE] [--markets 0,1,2,3,4,5] "
               "[--criteria 1,8,...] [--set NAME=VALUE ...] [--formula TEXT ...] [--show TEXT] "
               "[--sector 業種,...|all] --from YYYYMMDD --to YYYYMMDD [--every K] [--hold N] [--out DIR]",
               "runs the screen as of every K-th trading day from..to, buys its picks at the next "
               "open, sells at the close of the N-th day, prints the summary and writes "
               "trades.csv, summary.csv, equity.csv and equity.png",
               cmd_backtest);

}  // namespace lp::cli
