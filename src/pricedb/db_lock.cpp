#include "pricedb/db_lock.h"

#include <filesystem>

#include "common/numbers.h"

namespace lp {

std::chrono::milliseconds database_lock_timeout(
    const std::function<const char*(const char*)>& env) {
  const char* v = env ? env(kLockWaitEnvironmentVariable) : nullptr;
  const std::string text = v ? v : "";
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return kDatabaseLockWait;
  return std::chrono::milliseconds(parse_integer(text) * 1000);
}

std::unique_ptr<FileLock> lock_database(const std::string& db_folder,
                                        const DatabaseLockWait& wait, std::string& error,
                                        bool* timed_out) {
  if (timed_out) *timed_out = false;
  // The lock file lies beside the database folder (".kabuka_db.lock"), so a writer that waits
  // or fails creates no database, and no reader of the database ever sees it.
  std::filesystem::path db = std::filesystem::path(db_folder).lexically_normal();
  if (db.filename().empty()) db = db.parent_path();
  std::error_code ec;
  std::filesystem::create_directories(db.parent_path(), ec);
  bool gave_up = false;
  auto lock = FileLock::acquire(db, wait.timeout, error, [&](std::chrono::milliseconds waited) {
    const bool go_on = !wait.waiting || wait.waiting(waited.count() / 1000.0);
    gave_up = !go_on;
    return go_on;
  });
  if (lock) return lock;
  if (!gave_up && error.find("locked by another writer") != std::string::npos) {
    if (timed_out) *timed_out = true;
    const long minutes = static_cast<long>(wait.timeout.count() / 60000);
    error = std::string("エラー：") + kWaitingForOtherUpdate + "が、" +
            (minutes > 0 ? std::to_string(minutes) + "分"
                         : std::to_string(wait.timeout.count() / 1000) + "秒") +
            "待っても終わらないため中止しました。しばらくしてから再度実行してください。";
  }
  return nullptr;
}

std::unique_ptr<FileLock> lock_database(const std::string& db_folder, const LockWaitWords& words,
                                        std::string& error, bool* timed_out) {
  DatabaseLockWait wait;
  wait.timeout = words.timeout;
  double said = -1;
  wait.waiting = [&](double waited) {
    if (said < 0 || waited - said >= 30) {
      said = waited;
      const long s = static_cast<long>(waited);
      if (words.say) {
        words.say(std::string(kWaitingForOtherUpdate) + " (" +
                  (s >= 60 ? std::to_string(s / 60) + "分" + std::to_string(s % 60) + "秒"
                           : std::to_string(s) + "秒") +
                  ")");
      }
    }
    if (words.yield) words.yield();
    return !(words.cancelled && words.cancelled());
  };
  return lock_database(db_folder, wait, error, timed_out);
}

}  // namespace lp
