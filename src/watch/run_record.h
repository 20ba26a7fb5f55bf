// The outcome of the last unattended update ("daily"), so a failure at night is seen the next
// morning: "user/watch/last_update.txt" (UTF-8), read by the 監視結果 window and the report.
#pragma once

#include <string>

namespace lp::watch {

struct RunRecord {
  bool failed = false;
  std::string reason;  // one line, why it failed
  std::string time;    // "YYYY/MM/DD HH:MM"
};

std::string run_record_path(const std::string& user_folder);
RunRecord read_run_record(const std::string& user_folder);
bool write_run_record(const std::string& user_folder, const RunRecord& record);
// 「前回の自動更新: 失敗 (理由)」 with its time; "" when the last run did not fail.
std::string run_notice(const RunRecord& record);

}  // namespace lp::watch
