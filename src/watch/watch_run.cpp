#include "watch/watch_run.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "backtest/screen_backtest.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/numbers.h"
#include "screening/formula/formula_step.h"
#include "screening/screening_session.h"

namespace lp::watch {

namespace {

namespace fs = std::filesystem;

std::string problems_path(const std::string& user_folder) {
  // A leading "." keeps it apart from every history: no screen name starts with one.
  return watch_folder(user_folder) + ".problems.csv";
}

// Keeps the problems of the screens that failed in this run and forgets those that ran.
void record_problems(const std::string& user_folder, const std::vector<ScreenOutcome>& screens,
                     const std::string& day) {
  std::string error;
  if (!make_own_folder(watch_folder(user_folder), error)) return;
  const auto lock = FileLock::acquire(problems_path(user_folder), kUserFileLockTimeout, error);
  if (!lock) return;
  std::map<std::string, Problem> by_screen;
  for (Problem& p : read_problems(user_folder)) by_screen[p.screen] = std::move(p);
  for (const ScreenOutcome& s : screens) {
    if (s.error.empty()) {
      by_screen.erase(s.name);
    } else {
      by_screen[s.name] = Problem{s.name, day, s.error};
    }
  }
  CsvWriter w;
  for (const auto& [name, p] : by_screen) {
    std::string reason = p.reason;
    std::replace(reason.begin(), reason.end(), ',', ' ');
    std::erase_if(reason, [](char c) { return c == '"' || c == '\r' || c == '\n'; });
    w.fields({p.screen, p.date, reason}).end_line();
  }
  w.commit(problems_path(user_folder), true);
}

struct CaptureUi : screening::ScreeningUi {
  void message(const std::string& text, screening::TextColor color) override {
    if (color == screening::TextColor::red) error = text;
  }
  std::string error;
};

// The hits of the session's last run, as of its day table.
std::vector<Hit> hits_of(screening::ScreeningSession& session) {
  std::vector<Hit> hits;
  const bool formula_last = screening::is_formula_row(session.current_criterion());
  for (const screening::Candidate& c : session.kept().items) {
    const screening::DayRecord* row = session.day_table().row(parse_integer(c.row));
    Hit h;
    h.code = trim_blanks(c.code);
    if (row) {
      h.name = trim_blanks(row->name());
      h.close = trim_blanks(row->close());
    }
    // The value column is the 表示 formula's only when a formula row judged last.
    // Stored as it is shown: two decimals.
    h.value = formula_last && !trim_view(c.value).empty() ? shown_value(c.value, false) : "-";
    hits.push_back(std::move(h));
  }
  return hits;
}

// One watched screen in a run: its state, the days it needs and the blocks made so far.
struct Plan {
  std::string name;
  screening::ControlSet controls;
  std::optional<std::vector<std::string>> universe;
  std::vector<Block> history, fresh;
  std::set<std::string> days;  // to run, seeded days included
  std::string error;
};

bool held(const Plan& p, const std::string& day) {
  return find_block(p.history, day) || find_block(p.fresh, day);
}

// Loads and checks a screen; the error says why it cannot run.
void prepare(Plan& p, const WatchedScreen& ws, screening::ScreeningSession& session,
             const std::string& user, const std::string& newest,
             std::vector<std::string>& warnings) {
  p.name = ws.name;
  p.controls = screening::ControlSet::with_builtins();
  std::string error;
  if (!screening::load_screen(user, ws.name, p.controls, error)) {
    p.error = error;
    return;
  }
  session.controls() = p.controls;
  if (!backtest::any_criterion_ticked(session.controls())) {
    p.error = "条件が選択されていません。";
    return;
  }
  if (std::string bad = screening::check_formula_rows(p.controls); !bad.empty()) {
    p.error = bad;
    return;
  }
  if (!ws.marks.universe.empty()) {
    std::vector<std::string> codes;
    if (!resolve_universe(user, ws.marks.universe, codes, error)) {
      p.error = error;
      return;
    }
    p.universe = std::move(codes);
  }
  p.history = read_history(user, ws.name, newest, &warnings);
}

}  // namespace

std::vector<WatchedScreen> watched_screens(const std::string& user_folder) {
  std::vector<WatchedScreen> out;
  for (const std::string& name : screening::list_screens(user_folder)) {
    WatchedScreen ws{name, {}};
    std::string error;
    if (screening::read_screen_marks(user_folder, name, ws.marks, error) && ws.marks.watched)
      out.push_back(std::move(ws));
  }
  return out;
}

bool resolve_universe(const std::string& user_folder, const std::string& universe,
                      std::vector<std::string>& codes, std::string& error) {
  return screening::universe_codes(user_folder, universe, codes, error);
}

std::vector<std::string> added_days(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after, int limit) {
  std::set<std::string> had(before.begin(), before.end());
  std::vector<std::string> added;
  for (const std::string& d : after) {
    if (!had.count(d)) added.push_back(d);
  }
  std::sort(added.begin(), added.end());
  if (limit >= 0 && static_cast<int>(added.size()) > limit) {
    added.erase(added.begin(), added.end() - limit);
  }
  return added;
}

std::vector<std::string> trading_dates(const AppFolders& folders) {
  return backtest::database_trading_dates(folders);
}

int RunOutcome::entered_count() const {
  // A stock new in two screens is one stock new.
  std::set<std::string> codes;
  for (const auto& [screen, hits] : entered) {
    for (const Hit& h : hits) codes.insert(h.code);
  }
  return static_cast<int>(codes.size());
}

int RunOutcome::failed_count() const {
  return static_cast<int>(std::count_if(screens.begin(), screens.end(),
                                        [](const ScreenOutcome& s) { return !s.error.empty(); }));
}

RunOutcome run_watched(const RunRequest& request) {
  RunOutcome outcome;
  const AppFolders folders =
      read_settei_sub(request.platform.documents_folder, request.platform.desktop_folder);
  const std::string& user = folders.user_folder;
  const std::vector<WatchedScreen> screens = watched_screens(user);
  if (screens.empty() || request.days.empty()) return outcome;
  std::shared_ptr<const MarketStore> store = request.store;
  if (!store) {
    if (request.status) request.status("株価データ読込中");
    std::string error;
    store = MarketStore::load(folders.db_folder, folders.reference_code, error);
    if (!store) {
      for (const WatchedScreen& ws : screens)
        outcome.screens.push_back(
            {ws.name, error.empty() ? "株価データを読めません。" : error, {}, {}});
      record_problems(user, outcome.screens, request.days.back());
      return outcome;
    }
  }
  // One session for every screen: the day table of a day is built once and serves them all.
  CaptureUi ui;
  screening::ScreeningSession session(request.platform, &ui);
  session.load(false);
  session.set_write_files(false);
  std::vector<Plan> plans(screens.size());
  const std::vector<std::string>& dates = store->trading_dates();
  std::set<std::string> all_days;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    Plan& p = plans[i];
    prepare(p, screens[i], session, user, dates.empty() ? std::string() : dates.back(),
            outcome.warnings);
    if (!p.error.empty()) continue;
    for (const std::string& day : request.days) {
      const auto it = std::lower_bound(dates.begin(), dates.end(), day);
      if (it == dates.end() || *it != day || held(p, day)) continue;
      p.days.insert(day);
      // The first day after a screen is watched compares with a real yesterday.
      if (it != dates.begin() && !held(p, *(it - 1))) p.days.insert(*(it - 1));
    }
    all_days.insert(p.days.begin(), p.days.end());
  }
  // Day by day, oldest first, every screen that needs the day.
  for (const std::string& day : all_days) {
    for (Plan& p : plans) {
      if (!p.error.empty() || !p.days.count(day)) continue;
      if (request.status) request.status(day + " 監視条件「" + p.name + "」を実行中");
      session.controls() = p.controls;
      session.set_universe(p.universe);
      session.use_market(store, day);
      ui.error.clear();
      if (!session.run()) {
        p.error = ui.error.empty() ? "スクリーニングを実行できません。" : ui.error;
      } else if (session.latest_date() != day) {
        p.error = day + "の株価データがありません。";
      } else {
        p.fresh.push_back(Block{day, hits_of(session)});
      }
    }
  }
  std::map<std::string, std::vector<std::pair<std::string, std::vector<Hit>>>> entered;
  const TradedOn traded = day_file_trades(folders.db_folder, store);
  for (Plan& p : plans) {
    ScreenOutcome out{p.name, p.error, {}, {}};
    // Another run at the same time may have written some of these days: they are compared
    // with, but reported (and notified) by that run only.
    std::vector<Block> all = p.history;
    all.insert(all.end(), p.fresh.begin(), p.fresh.end());
    // A screen that failed on any day writes none of its days.
    if (out.error.empty() && !append_blocks(user, p.name, p.fresh, out.error)) {
      p.fresh.clear();
    }
    if (out.error.empty()) {
      std::sort(all.begin(), all.end(),
                [](const Block& a, const Block& b) { return a.date < b.date; });
      for (const Block& b : p.fresh) out.days_written.push_back(b.date);
      std::sort(out.days_written.begin(), out.days_written.end());
      for (const std::string& day : out.days_written) {
        out.changes = compare_day(all, day, traded);
        if (!out.changes.entered.empty()) entered[day].emplace_back(p.name, out.changes.entered);
      }
    }
    outcome.blocks_written += static_cast<int>(out.days_written.size());
    if (!out.days_written.empty() && out.days_written.back() > outcome.day)
      outcome.day = out.days_written.back();
    outcome.screens.push_back(std::move(out));
  }
  if (const auto it = entered.find(outcome.day); it != entered.end()) outcome.entered = it->second;
  record_problems(user, outcome.screens, request.days.back());
  return outcome;
}

std::map<std::string, std::string> values_as_of(const Platform& platform,
                                                std::shared_ptr<const MarketStore> store,
                                                const std::string& screen, const std::string& date,
                                                std::vector<std::string> codes) {
  std::map<std::string, std::string> values;
  if (codes.empty()) return values;
  const AppFolders folders = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  screening::ControlSet controls = screening::ControlSet::with_builtins();
  std::string error;
  if (!screening::load_screen(folders.user_folder, screen, controls, error)) return values;
  // The value of a hit is the 表示 formula of the criterion that judged last.
  int last = 0;
  for (const screening::RunEntry& e : screening::run_table()) {
    if (controls.enabled(e.number)) last = e.number;
  }
  if (!screening::is_formula_row(last) ||
      trim_view(controls.text(screening::formula_show_control(last))).empty())
    return values;
  // That row alone, passing every stock of every market: only its 表示 value is wanted.
  for (const screening::RunEntry& e : screening::run_table())
    controls.set_checked(screening::indexed("pr_chk", e.number), e.number == last);
  controls.set_text(screening::formula_text_control(last), "1");
  for (int i = 0; i < 6; ++i) controls.set_checked(screening::indexed("shijyou_chk", i), true);
  CaptureUi ui;
  screening::ScreeningSession session(platform, &ui);
  session.load(false);
  session.set_write_files(false);
  session.controls() = controls;
  std::sort(codes.begin(), codes.end());
  session.set_universe(std::move(codes));
  session.use_market(std::move(store), date);
  if (!session.run() || session.latest_date() != date) return values;
  for (const Hit& h : hits_of(session)) values[h.code] = h.value;
  return values;
}

std::vector<Problem> read_problems(const std::string& user_folder) {
  std::vector<Problem> out;
  std::string text;
  if (!read_cp932_file(problems_path(user_folder), text)) return out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    FieldReader r(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    Problem p;
    p.screen = std::string(r.next_or_empty());
    p.date = std::string(r.next_or_empty());
    p.reason = std::string(r.next_or_empty());
    if (!p.screen.empty()) out.push_back(std::move(p));
  }
  return out;
}

std::string notification_markup(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // Bidi controls (U+200E/F, U+202A-202E, U+2066-2069, U+061C) would reorder what follows
    // them: a name could make a code read as another.
    if (c == 0xE2 && i + 2 < text.size()) {
      const unsigned char b = static_cast<unsigned char>(text[i + 1]);
      const unsigned char d = static_cast<unsigned char>(text[i + 2]);
      if ((b == 0x80 && (d == 0x8E || d == 0x8F || (d >= 0xAA && d <= 0xAE))) ||
          (b == 0x81 && d >= 0xA6 && d <= 0xA9)) {
        i += 2;
        continue;
      }
    }
    if (c == 0xD8 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x9C) {
      ++i;
      continue;
    }
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
      default:
        if (c >= 0x20 || c == '\n') out += static_cast<char>(c);
    }
  }
  return out;
}

bool notification_text(const RunOutcome& outcome, std::string& title, std::string& body) {
  const int n = outcome.entered_count();
  if (n == 0) return false;
  title = "LumenPick: 新規 " + std::to_string(n) + " 銘柄";
  // A line per screen naming its first new stock: 「上抜け: 7203 トヨタ自動車 ほか4銘柄」.
  std::string text;
  for (const auto& [screen, hits] : outcome.entered) {
    if (hits.empty()) continue;
    if (!text.empty()) text += "\n";
    text += screen + ": " + hits.front().code + " " + hits.front().name;
    if (hits.size() > 1) text += " ほか" + std::to_string(hits.size() - 1) + "銘柄";
  }
  body = notification_markup(text);
  return true;
}

}  // namespace lp::watch
