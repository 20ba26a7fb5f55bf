#include "pricedb/delete_year.h"

#include <filesystem>
#include <system_error>

#include "common/numbers.h"
#include "pricedb/db_lock.h"
#include "pricedb/formats.h"
#include "pricedb/main_status.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSubfolders[] = {"data_d_db", "data_d",  "data_dg", "data_m",
                                       "data_mg",   "data_mh", "data_mhg"};

// Deletes the files directly in `folder` (not nested folders), then tries to remove it. A
// symbolic link is removed itself and never followed, whether it is `folder` or an entry of
// it: a link into another folder must not carry the deletion there.
void clear_and_remove(const fs::path& folder) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(folder, ec);
  if (fs::is_symlink(st)) {
    fs::remove(folder, ec);
    return;
  }
  if (!fs::is_directory(st)) return;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (it->is_symlink(fec) || !it->is_directory(fec)) fs::remove(it->path(), fec);
  }
  fs::remove(folder, ec);  // fails, silently, when something is left inside
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::size_t b = text.find_first_not_of(blanks);
  if (b == std::string::npos) return {};
  std::string out = text.substr(b, text.find_last_not_of(blanks) - b + 1);
  // The full-width blank the lists never contain but a typed entry might.
  while (out.rfind("　", 0) == 0) out.erase(0, 3);
  while (out.size() >= 3 && out.compare(out.size() - 3, 3, "　") == 0) out.erase(out.size() - 3);
  return out;
}

}  // namespace

bool delete_year_folder(const std::string& db_folder, int year, const YieldFn& yield) {
  const fs::path y = fs::path(as_folder(db_folder)) / std::to_string(year);
  std::error_code ec;
  // The year folder itself may be a link: clearing "its" subfolders would empty the link's
  // target. Only the link goes.
  if (fs::is_symlink(fs::symlink_status(y, ec))) {
    fs::remove(y, ec);
    yield_now(yield);
    return !fs::exists(fs::symlink_status(y, ec));
  }
  for (const char* sub : kSubfolders) {
    clear_and_remove(y / sub);
    yield_now(yield);
  }
  clear_and_remove(y);
  yield_now(yield);
  return !fs::exists(fs::symlink_status(y, ec));
}

DeleteResult run_delete_year(const std::string& db_folder, const std::string& chosen,
                             const DeleteHooks& hooks) {
  auto say = [&](const std::string& text, MessageColor color) {
    if (hooks.message) hooks.message(text, color);
  };
  const std::string t = trimmed(chosen);
  if (t.empty()) {
    say("削除するデータはありません。", MessageColor::red);
    return DeleteResult::nothing_chosen;
  }
  if (!hooks.confirm || !hooks.confirm(t + "のデータを削除しますか？")) {
    return DeleteResult::declined;
  }
  const std::string yyyy = t.substr(0, 4);
  const int year = static_cast<int>(parse_integer(yyyy));
  LockWaitWords words;
  words.timeout = hooks.lock_timeout;
  words.say = [&](const std::string& text) { say(text, MessageColor::blue); };
  words.yield = hooks.yield;
  std::string lock_error;
  bool timed_out = false;
  const auto lock = lock_database(db_folder, words, lock_error, &timed_out);
  if (!lock) {
    say(lock_error, MessageColor::red);
    return DeleteResult::locked;
  }
  say(t + "の株価情報を削除中", MessageColor::blue);
  yield_now(hooks.yield);
  if (hooks.status) hooks.status(kStatusDeleteStart);
  yield_now(hooks.yield);

  delete_year_folder(db_folder, year, hooks.yield);

  const bool found = hooks.refresh ? hooks.refresh() : false;
  if (!found) say("株価データがありません。ご確認ください。", MessageColor::red);
  // A year folder that could not be emptied (or another folder named after the year) keeps
  // the year in the database: saying it was deleted would be untrue.
  const bool still_there = year > 0 && year_present(db_folder, year);
  if (still_there) {
    say(yyyy + "年の株価情報を削除できませんでした。株価データベースのフォルダを確認してください。",
        MessageColor::red);
  } else {
    say(yyyy + "年の株価情報を削除しました。", MessageColor::blue);
  }
  if (hooks.status) hooks.status(kStatusDeleteDone);
  return still_there ? DeleteResult::incomplete : DeleteResult::deleted;
}

}  // namespace lp
