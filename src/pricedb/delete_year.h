// Removing one year from the price database, with the main window's texts and states.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "common/platform.h"
#include "pricedb/download.h"

namespace lp {

// Deletes the files of db_folder/yyyy's database and staging subfolders, removes them, then
// the files directly in the year folder and the folder itself. Anything that cannot go (a
// nested folder of the user's, a locked file) stays. True when the year folder is gone.
bool delete_year_folder(const std::string& db_folder, int year, const YieldFn& yield = {});

struct DeleteHooks {
  std::function<bool(const std::string& question)> confirm;  // yes/no box; true = yes
  std::function<void(const std::string& text, MessageColor color)> message;  // Label1
  std::function<void(const std::string& status)> status;                     // set_main_status
  // Refills the year lists and the database status; returns whether a latest date was found.
  std::function<bool()> refresh;
  YieldFn yield;
  // How long to wait for another writer of the database.
  std::chrono::milliseconds lock_timeout = std::chrono::minutes(10);
};

// locked: another writer held the database past the wait; nothing was deleted.
enum class DeleteResult { nothing_chosen, declined, deleted, incomplete, locked };

// "株価削除" for the list entry `chosen` (such as "2012年"). When the year is still in the
// database afterwards, the closing text says so in red instead of reporting success.
DeleteResult run_delete_year(const std::string& db_folder, const std::string& chosen,
                             const DeleteHooks& hooks);

}  // namespace lp
