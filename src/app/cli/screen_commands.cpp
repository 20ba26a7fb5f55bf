// lumenpick-cli screen: the screening window's run without the window.
#include <iostream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "common/encoding.h"
#include "screening/preferences.h"
#include "screening/screening_session.h"

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

std::string configure_screen(Context& ctx, lp::screening::ScreeningSession& session) {
  std::string init_path, markets = "0,1,2,3,4,5", criteria, value;
  const bool has_init = ctx.take_option("--init", init_path);
  ctx.take_option("--markets", markets);
  const bool has_criteria = ctx.take_option("--criteria", criteria);
  std::vector<std::string> sets;
  while (ctx.take_option("--set", value)) sets.push_back(value);

  session.load(false);  // built-in values; the preferences file comes next
  if (!has_init) init_path = session.folders().app_folder + "init.txt";
  lp::screening::read_init_sel(session.controls(), init_path);

  if (has_criteria) {
    for (int n = 1; n <= 40; ++n)
      session.controls().set_checked(lp::screening::indexed("pr_chk", n), false);
    for (const auto& n : split(criteria, ',')) {
      if (!lp::screening::apply_control_value(session.controls(), "pr_chk(" + n + ")", "1")) {
        return "no criterion " + n;
      }
    }
  }
  for (const auto& s : sets) {
    const auto eq = s.find('=');
    if (eq == std::string::npos) return "--set wants NAME=VALUE, got " + s;
    const std::string name = s.substr(0, eq);
    if (!lp::screening::apply_control_value(session.controls(), name, s.substr(eq + 1))) {
      return "unknown control or unsuitable value: " + s;
    }
  }
  std::vector<bool> ticked(6, false);
  for (const auto& m : split(markets, ',')) {
    if (m.size() != 1 || m[0] < '0' || m[0] > '5') return "no market box " + m;
    ticked[static_cast<std::size_t>(m[0] - '0')] = true;
  }
  for (int i = 0; i < 6; ++i) {
    session.controls().set_checked(lp::screening::indexed("shijyou_chk", i),
                                   ticked[static_cast<std::size_t>(i)]);
  }
  session.controls().set_checked("shijyou_chk(6)", false);
  return {};
}

namespace {

int run_screen(Context& ctx) {
  std::string as_of;
  if (ctx.take_option("--as-of", as_of) && !valid_yyyymmdd(as_of)) {
    return fail("screen: --as-of wants YYYYMMDD, got " + as_of);
  }
  CliUi ui;
  ScreeningSession session(ctx.platform, &ui);
  const std::string problem = configure_screen(ctx, session);
  if (!problem.empty()) return fail("screen: " + problem);
  if (!ctx.args.empty()) return fail("screen: unexpected argument " + ctx.args.front());
  if (!as_of.empty()) session.use_market(nullptr, as_of);

  if (!session.run()) return fail(ui.error.empty() ? "screen: the run did not start" : ui.error);
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

}  // namespace

LP_CLI_COMMAND("screen",
               "screen [--init FILE] [--markets 0,1,2,3,4,5] [--criteria 1,8,...] "
               "[--set NAME=VALUE ...] [--as-of YYYYMMDD]",
               "runs a screening like the screening window's 開始 and prints the counts and "
               "sel0_out.csv",
               run_screen);

}  // namespace lp::cli
