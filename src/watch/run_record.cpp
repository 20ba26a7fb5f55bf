#include "watch/run_record.h"

#include <filesystem>

#include "common/csv.h"
#include "common/keyvalue.h"
#include "watch/watch_history.h"

namespace lp::watch {

namespace {

// One line of plain text: a reason carries a server's or a file's words.
std::string one_line(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
  return out.substr(0, 600);
}

}  // namespace

std::string run_record_path(const std::string& user_folder) {
  return watch_folder(user_folder) + "last_update.txt";
}

RunRecord read_run_record(const std::string& user_folder) {
  RunRecord r;
  std::string bytes;
  if (!read_file_bytes(run_record_path(user_folder), bytes)) return r;
  for_each_key_value_line(bytes, [&](const std::string& key, const std::string& value) {
    if (key == "status") r.failed = value == "failed";
    if (key == "reason") r.reason = value;
    if (key == "time") r.time = value;
  });
  return r;
}

bool write_run_record(const std::string& user_folder, const RunRecord& record) {
  std::string error;
  if (!make_own_folder(watch_folder(user_folder), error)) return false;
  return write_file_atomic(run_record_path(user_folder),
                           std::string("status=") + (record.failed ? "failed" : "ok") +
                               "\nreason=" + one_line(record.reason) +
                               "\ntime=" + one_line(record.time) + "\n");
}

std::string run_notice(const RunRecord& record) {
  if (!record.failed) return {};
  return "前回の自動更新: 失敗 (" + record.reason + ")" +
         (record.time.empty() ? "" : " " + record.time);
}

}  // namespace lp::watch
