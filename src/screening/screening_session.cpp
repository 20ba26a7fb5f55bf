#include "screening/screening_session.h"

#include <algorithm>
#include <filesystem>

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "pricedb/series.h"
#include "screening/formula/formula_step.h"
#include "screening/preferences.h"
#include "screening/rankings.h"
#include "screening/result_files.h"
#include "screening/universe.h"

namespace lp::screening {

namespace {

constexpr int kWindowCalendarDays = 1500;
constexpr int kRankingButton = 21;

int year_of(const std::string& yyyymmdd) {
  return static_cast<int>(parse_integer(yyyymmdd.substr(0, 4)));
}

}  // namespace

std::vector<std::string> criterion_name_list() {
  std::vector<std::string> names(51);
  const char* texts[] = {"",
                         "株価範囲による銘柄選択",
                         "最安値日による銘柄選択",
                         "最安値による銘柄選択",
                         "値幅による銘柄選択１",
                         "値幅による銘柄選択２",
                         "値幅率による銘柄選択",
                         "前日比による銘柄選択",
                         "移動平均差による銘柄選択１",
                         "移動平均クロスによる銘柄選択２",
                         "偏差による銘柄選択",
                         "RSIによる銘柄選択",
                         "SEMI ALGによる銘柄選択",
                         "乖離率による選択処理"};
  for (std::size_t i = 0; i < std::size(texts); ++i) names[i] = texts[i];
  for (std::size_t i = 14; i <= 18; ++i) names[i] = "ユーザファイル１";
  return names;
}

ScreeningSession::ScreeningSession(Platform platform, ScreeningUi* ui)
    : platform_(std::move(platform)),
      ui_(ui ? ui : &null_ui_),
      controls_(ControlSet::with_builtins()),
      names_(criterion_name_list()) {}

std::string ScreeningSession::file_in_user_folder(const std::string& name) const {
  return folders_.user_folder + name;
}

void ScreeningSession::use_market(std::shared_ptr<const MarketStore> store, std::string as_of) {
  store_ = std::move(store);
  as_of_ = std::move(as_of);
}

SeriesSource ScreeningSession::source() const {
  SeriesSource s = SeriesSource::from(folders_);
  s.store = store_;
  s.as_of = as_of_;
  return s;
}

void ScreeningSession::say(const std::string& text, TextColor color) {
  ui_->message(text, color);
}

void ScreeningSession::load(bool apply_init) {
  ready_ = false;
  close_request_ = false;
  folders_ = read_settei_sub(platform_.documents_folder, platform_.desktop_folder);
  std::error_code ec;
  const std::string settings = product_folder(platform_.documents_folder) + "settei.txt";
  if (!std::filesystem::exists(settings, ec)) {
    say("エラー：設定ファイル（settei.txt）がありません。", TextColor::red);
    ui_->yield();
  }
  if (!folders_.user_folder.empty() && !std::filesystem::is_directory(folders_.user_folder, ec)) {
    std::filesystem::create_directories(folders_.user_folder, ec);
  }
  const std::string today = today_yyyymmdd(platform_);
  std::string latest;
  if (read_latest_date(folders_.db_folder, folders_.reference_code, year_of(today), kLowestYear,
                       latest)) {
    latest_date_ = latest;
    ui_->date_label("最新取引日：" + latest);
    build_trading_calendar(SeriesSource::from(folders_), calendar_, latest, kWindowCalendarDays);
  } else {
    say("エラー：設定ファイル（settei.txt）がありません。", TextColor::red);
  }
  if (apply_init) {
    read_init_sel(controls_, folders_.app_folder + "init.txt", [this] { ui_->yield(); });
  }
  ui_->controls_changed();
  for (int n = 1; n <= kLastFormulaRow; ++n) ui_->set_option_visible(n, false);
  // The ranking button runs no criterion, so "hidden until its criterion ran" would hide it
  // for good.
  ui_->set_option_visible(kRankingButton, true);
  current_ = -1;
  ready_ = true;
}

bool ScreeningSession::make_candidate_list() {
  const std::string today = today_yyyymmdd(platform_);
  std::string latest;
  const SeriesSource src = source();
  const bool found = as_of_.empty() ? read_latest_date(folders_.db_folder, folders_.reference_code,
                                                       year_of(today), kLowestYear, latest)
                                    : latest_trading_date_as_of(src, latest);
  if (!found) {
    say("エラー：株価データがありません。", TextColor::red);
    return false;
  }
  if (as_of_.empty()) {
    count_trading_days(folders_.db_folder, folders_.reference_code, year_of(today), trading_days_);
  } else {
    count_trading_days_as_of(src, trading_days_);
  }

  // The run's own date, not the one the window was loaded with.
  latest_date_ = latest;
  ui_->date_label("最新取引日：" + latest);
  if (latest != day_table_.date()) {
    // Lists of an older day table point at rows of that table: their 「▽」 and counts go.
    for (int n = 1; n <= kLastOption; ++n) {
      if (n == kRankingButton) continue;
      ui_->set_option_visible(n, false);
      ui_->result_label(n, "");
    }
    shown_.clear();
    ui_->clear_result_labels();
    if (!read_day_table(src, latest, day_table_)) {
      // An unreadable day file must not let an older day's table pass for this run's.
      day_table_ = DayTable{};
      say("エラー：株価データがありません。", TextColor::red);
      return false;
    }
    // The previous-day values belong to this run's latest date, so the calendar is rebuilt
    // for it rather than taken from window load.
    build_trading_calendar(src, calendar_, latest, kWindowCalendarDays);
    table_has_previous_ = false;
    ++table_builds_;
  }
  // The previous-day values feed the result files and criterion 7 only; a run that writes no
  // files and does not rank by the previous day (a backtest's day) need not load them.
  if (!table_has_previous_ && (write_files_ || controls_.enabled(7))) {
    fill_previous_day(day_table_, src, latest, calendar_, series_, [this](int k, int n) {
      say("初期設定中　" + std::to_string(k) + "/" + std::to_string(n), TextColor::blue);
      ui_->yield();
    });
    table_has_previous_ = true;
  }

  ui_->select_option(-1);
  current_ = -1;
  ui_->clear_result_labels();

  MarketBoxes boxes{};
  for (int i = 0; i < 6; ++i)
    boxes[static_cast<std::size_t>(i)] = controls_.checked(indexed("shijyou_chk", i));
  filter_markets(day_table_, boxes, candidates_);
  filter_sectors(controls_, source(), day_table_.date(), candidates_);
  if (universe_) {
    std::vector<std::string> wanted = *universe_;
    std::sort(wanted.begin(), wanted.end());
    std::erase_if(candidates_.items, [&](const Candidate& c) {
      return !std::binary_search(wanted.begin(), wanted.end(), trim_blanks(c.code));
    });
  }
  output_ = candidates_;
  return true;
}

RunContext ScreeningSession::make_context() {
  RunContext ctx;
  ctx.source = source();
  // As of a past day, "today" is that day: every history load ends there.
  ctx.today = as_of_.empty() ? today_yyyymmdd(platform_) : as_of_;
  ctx.user_folder = folders_.user_folder;
  ctx.write_files = write_files_;
  ctx.adjust = true;
  ctx.day_table = &day_table_;
  ctx.controls = &controls_;
  ctx.trading_day_count = trading_days_;
  ctx.criterion_names = &names_;
  ctx.events.message = [this](const std::string& t, TextColor c) { say(t, c); };
  ctx.events.show_option = [this](int n) {
    if (std::find(shown_.begin(), shown_.end(), n) == shown_.end()) shown_.push_back(n);
    ui_->set_option_visible(n, true);
  };
  ctx.events.controls_changed = [this] { ui_->controls_changed(); };
  ctx.events.yield = [this] { ui_->yield(); };
  return ctx;
}

bool ScreeningSession::run() {
  if (!ready_ || running_) return false;
  // The 「指標」 page runs as row 46 whenever a field of it is filled.
  sync_indicator_row(controls_);
  // A formula that does not compile stops the run before anything is touched.
  if (const std::string error = check_formula_rows(controls_); !error.empty()) {
    say(error, TextColor::red);
    return false;
  }
  // A formula on company results over a database without any would keep nothing, silently.
  if (const std::string error = check_fins_available(controls_, source()); !error.empty()) {
    say(error, TextColor::red);
    return false;
  }
  if (const std::string error = check_sector_choice(controls_, source()); !error.empty()) {
    say(error, TextColor::red);
    return false;
  }
  running_ = true;
  counts_.clear();
  say("初期設定中", TextColor::blue);
  ui_->yield();
  for (int n = 1; n <= 10; ++n) ui_->set_option_visible(n, false);
  ui_->set_controls_enabled(false);

  const bool universe_ok = make_candidate_list();
  // Without price data there is no universe: applying the criteria to an older list would
  // report a stale result as this run's.
  if (!universe_ok || close_request_) {
    ui_->set_controls_enabled(true);
    running_ = false;
    if (close_request_) ui_->close_window();
    return false;
  }
  say("", TextColor::black);

  RunContext ctx = make_context();
  std::swap(ctx.series, series_);
  std::string last_label;
  ctx.events.result_label = [this, &last_label](int n, const std::string& t) {
    last_label = t;
    ui_->result_label(n, t);
  };
  for (const RunEntry& entry : run_table()) {
    if (!controls_.enabled(entry.number)) continue;
    current_ = entry.number;
    last_label.clear();
    entry.routine(ctx, candidates_, output_, entry.number);
    ui_->controls_changed();
    if (!last_label.empty()) counts_.emplace_back(entry.number, last_label);
  }
  std::swap(ctx.series, series_);

  // An intermediate list that was not written leaves an older one in its place: showing it
  // would pass a previous run's results off as this one's.
  bool written = !ctx.write_failed;
  if (!write_files_) {
    // A run that only wants the list (a backtest's day) writes nothing at all.
  } else if (written) {
    written = write_result_files();
  } else {
    say(kMsgResultWriteFailed, TextColor::red);
  }
  ui_->set_controls_enabled(true);
  running_ = false;
  if (close_request_) ui_->close_window();
  return written;
}

bool ScreeningSession::write_result_files() {
  if (current_ == -1) return true;
  const std::string name = intermediate_file_name(current_);
  if (!name.empty()) read_list_file(file_in_user_folder(name), output_);
  const bool listed = write_list_file(file_in_user_folder("sel0.csv"), output_);
  const bool out = listed && write_result_out(file_in_user_folder("sel0_out.csv"), output_,
                                              day_table_, [this] { ui_->yield(); });
  if (!out) {
    say(kMsgResultWriteFailed, TextColor::red);
    return false;
  }
  ui_->show_results();
  ui_->select_option(current_);
  return true;
}

void ScreeningSession::option_click(int i) {
  ui_->select_option(current_);
  if (!ready_ || running_) return;
  // The ranking button belongs to the rankings; it never shows an intermediate list.
  if (i == kRankingButton) {
    show_ranking(ui_->selected_ranking());
    return;
  }
  if (i == current_) return;
  // Only a criterion that ran on the current day table has a list that belongs to it.
  if (std::find(shown_.begin(), shown_.end(), i) == shown_.end()) return;
  current_ = i;
  say("", TextColor::black);
  if (is_formula_row(i)) {
    say(formula_row_title(controls_, i), TextColor::blue);
  } else if (i >= 0 && i < static_cast<int>(names_.size())) {
    say(names_[static_cast<std::size_t>(i)], TextColor::blue);
  }
  ui_->yield();
  write_result_files();
}

bool ScreeningSession::show_ranking(const std::string& name) {
  if (!ready_ || running_) return false;
  const std::string& chosen = find_ranking(name) ? name : ranking_defs().front().name;
  // The pass yields to the event loop: the same guard as a run keeps "開始" and the Option1
  // buttons out, and a close request waits for the end of the pass.
  running_ = true;
  RankingSource source;
  source.source = this->source();
  source.latest_year = latest_date_.empty() ? 0 : year_of(latest_date_);
  source.events.busy = [this](bool on) { ui_->busy(on); };
  source.events.message = [this](const std::string& t) { say(t, TextColor::blue); };
  source.events.status = [this](const std::string& t) { ui_->result_label(kRankingButton, t); };
  source.events.refresh_date = [this] {
    std::string latest;
    if (read_latest_date(folders_.db_folder, folders_.reference_code,
                         year_of(today_yyyymmdd(platform_)), kLowestYear, latest)) {
      ui_->date_label("最新取引日：" + latest);
    }
  };
  source.events.yield = [this] { ui_->yield(); };

  bool write_failed = false;
  const bool shown = ranking_to_result_files(source, chosen, folders_.user_folder, &write_failed);
  if (shown) {
    say("", TextColor::black);
    current_ = kRankingButton;
    ui_->show_results();
  } else if (write_failed) {
    say(kMsgResultWriteFailed, TextColor::red);
  } else {
    // Without a summary of the latest day there is nothing to rank; saying so beats leaving
    // the results window on an older list as if it were the ranking.
    say("エラー：株価データがありません。", TextColor::red);
  }
  ui_->select_option(current_);
  running_ = false;
  if (close_request_) ui_->close_window();
  return shown;
}

}  // namespace lp::screening
