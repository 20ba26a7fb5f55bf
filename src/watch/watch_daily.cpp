#include "watch/watch_daily.h"

#include <algorithm>

namespace lp::watch {

AfterUpdateResult after_update(const AfterUpdateRequest& request) {
  AfterUpdateResult r;
  const AppFolders folders =
      read_settei_sub(request.platform.documents_folder, request.platform.desktop_folder);
  if (request.days.empty() || watched_screens(folders.user_folder).empty()) return r;
  if (request.status) request.status("株価データ読込中");
  std::string error;
  RunRequest run;
  run.platform = request.platform;
  run.days = request.days;
  run.status = request.status;
  run.store = MarketStore::load(folders.db_folder, folders.reference_code, error);
  r.run = run_watched(run);
  r.report_date = !r.run.day.empty()         ? r.run.day
                  : r.run.failed_count() > 0 ? request.days.back()
                                             : std::string();
  if (r.report_date.empty()) return r;
  if (request.status) request.status("レポート作成中");
  const ChartPicture chart = request.charts ? request.charts(folders, run.store) : ChartPicture{};
  const ValuesOf values = [&](const std::string& screen, const std::vector<std::string>& codes) {
    return values_as_of(request.platform, run.store, screen, r.report_date, codes);
  };
  if (!write_report(folders, r.report_date, chart, r.report_path, r.report_error, values,
                    request.data_age))
    r.report_path.clear();
  std::string title, body;
  if (request.notify && notification_text(r.run, title, body)) {
    if (!request.data_age.empty()) body = request.data_age + "\n" + body;
    r.notified = request.notify(title, body, r.report_path);
  }
  return r;
}

std::vector<std::string> daily_days(const std::string& user_folder,
                                    const std::vector<std::string>& added,
                                    const std::vector<std::string>& all_dates, int limit) {
  std::vector<std::string> days = added;
  if (!all_dates.empty()) {
    const std::string& newest = all_dates.back();
    for (const WatchedScreen& ws : watched_screens(user_folder)) {
      const std::vector<Block> history = read_history(user_folder, ws.name, newest);
      if (history.empty()) {
        days.push_back(newest);
        continue;
      }
      auto from = std::upper_bound(all_dates.begin(), all_dates.end(), history.back().date);
      if (limit >= 0 && all_dates.end() - from > limit) from = all_dates.end() - limit;
      days.insert(days.end(), from, all_dates.end());
    }
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  return days;
}

std::vector<std::string> outcome_lines(const std::string& /*user_folder*/,
                                       const AfterUpdateResult& r) {
  std::vector<std::string> lines;
  for (const ScreenOutcome& s : r.run.screens) {
    if (!s.error.empty()) {
      lines.push_back(s.name + ": 実行できません（" + s.error + "）");
      continue;
    }
    if (s.days_written.empty()) {
      lines.push_back(s.name + ": 新しい取引日はありません");
      continue;
    }
    const Changes& c = s.changes;
    lines.push_back(s.name + ": " + s.days_written.back() + " 新規 " +
                    std::to_string(c.entered.size()) + "・除外 " +
                    std::to_string(c.dropped.size()) + "・該当 " +
                    std::to_string(c.entered.size() + c.continuing.size()));
  }
  return lines;
}

}  // namespace lp::watch
