// lumenpick-cli screen: the screening window's run without the window.
#include <iostream>
#include <sstream>

#include "app/cli/cli.h"
#include "common/encoding.h"
#include "screening/preferences.h"
#include "screening/screening_session.h"
#include "shell/startup.h"

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

int run_screen(Context& ctx) {
  std::string init_path, markets = "0,1,2,3,4,5", criteria, value;
  const bool has_init = ctx.take_option("--init", init_path);
  ctx.take_option("--markets", markets);
  const bool has_criteria = ctx.take_option("--criteria", criteria);
  std::vector<std::string> sets;
  while (ctx.take_option("--set", value)) sets.push_back(value);
  if (!ctx.args.empty()) return fail("screen: unexpected argument " + ctx.args.front());
  // A screening may be the very first run: set up the product folder and its templates as the
  // desktop program's first start does, so settei.txt and init.txt are the shipped ones.
  prepare_product_folders(ctx.platform.documents_folder, ctx.platform.install_folder);

  CliUi ui;
  ScreeningSession session(ctx.platform, &ui);
  session.load(false);  // built-in values; the preferences file comes next
  if (!has_init) init_path = session.folders().app_folder + "init.txt";
  lp::screening::read_init_sel(session.controls(), init_path);

  if (has_criteria) {
    for (int n = 1; n <= 40; ++n)
      session.controls().set_checked(lp::screening::indexed("pr_chk", n), false);
    for (const auto& n : split(criteria, ',')) {
      if (!lp::screening::apply_control_value(session.controls(), "pr_chk(" + n + ")", "1")) {
        return fail("screen: no criterion " + n);
      }
    }
  }
  for (const auto& s : sets) {
    const auto eq = s.find('=');
    if (eq == std::string::npos) return fail("screen: --set wants NAME=VALUE, got " + s);
    const std::string name = s.substr(0, eq);
    if (!lp::screening::apply_control_value(session.controls(), name, s.substr(eq + 1))) {
      return fail("screen: unknown control or unsuitable value: " + s);
    }
  }
  std::vector<bool> ticked(6, false);
  for (const auto& m : split(markets, ',')) {
    if (m.size() != 1 || m[0] < '0' || m[0] > '5') return fail("screen: no market box " + m);
    ticked[static_cast<std::size_t>(m[0] - '0')] = true;
  }
  for (int i = 0; i < 6; ++i) {
    session.controls().set_checked(lp::screening::indexed("shijyou_chk", i),
                                   ticked[static_cast<std::size_t>(i)]);
  }
  session.controls().set_checked("shijyou_chk(6)", false);

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
               "[--set NAME=VALUE ...]",
               "runs a screening like the screening window's 開始 and prints the counts and "
               "sel0_out.csv",
               run_screen);

}  // namespace lp::cli
