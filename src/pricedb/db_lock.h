// One writer of the price database at a time. Every writer (J-Quants sync, download and
// unpack, CSV import, year deletion) holds an flock on a file in the database folder for its
// whole write and reads the newest day only once it holds it; readers never lock. The lock
// file is ".<database folder name>.lock" beside the database folder.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/file_lock.h"

namespace lp {

// What a waiting writer shows, and how long it waits before it gives up.
inline constexpr const char* kWaitingForOtherUpdate = "他の更新が終わるのを待っています";
inline constexpr std::chrono::milliseconds kDatabaseLockWait{10 * 60 * 1000};
// The exit code of a command that gave up waiting (EX_TEMPFAIL: try again later).
inline constexpr int kExitLocked = 75;
// Overrides the wait in seconds (tests, scripts that would rather fail fast).
inline constexpr const char* kLockWaitEnvironmentVariable = "LUMENPICK_LOCK_WAIT_SECONDS";

struct DatabaseLockWait {
  std::chrono::milliseconds timeout = kDatabaseLockWait;
  // Told about once a second how long the writer has waited; false gives up (cancelled).
  std::function<bool(double waited_s)> waiting;
};

// The wait from the environment variable above, else the default.
std::chrono::milliseconds database_lock_timeout(const std::function<const char*(const char*)>& env);

// The database-wide writer's lock; nullptr and `error` (naming kWaitingForOtherUpdate when
// another writer held it past the timeout) otherwise. `timed_out` tells the two apart.
std::unique_ptr<FileLock> lock_database(const std::string& db_folder,
                                        const DatabaseLockWait& wait, std::string& error,
                                        bool* timed_out = nullptr);

// The same with the wait said in words: `say` gets kWaitingForOtherUpdate with the time waited
// at once and then every 30 s, `yield` runs between polls (a window stays responsive).
struct LockWaitWords {
  std::chrono::milliseconds timeout = kDatabaseLockWait;
  std::function<void(const std::string& text)> say;
  std::function<void()> yield;
  std::function<bool()> cancelled;
};
std::unique_ptr<FileLock> lock_database(const std::string& db_folder, const LockWaitWords& wait,
                                        std::string& error, bool* timed_out = nullptr);

}  // namespace lp
