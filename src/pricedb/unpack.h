// Splitting a year's packed files (staging folders) into the database files of that year.
#pragma once

#include <functional>
#include <string>

#include "common/platform.h"

namespace lp {

struct UnpackHooks {
  std::function<void(const std::string& text)> message;  // Label1, blue
  std::function<bool()> quit_requested;
  std::function<void()> close_main;  // called when the quit request stops the run
  YieldFn yield;
};

struct UnpackStats {
  int packed_files = 0;      // packed files opened
  int correction_files = 0;  // database files written per phase
  int day_files = 0;
  int series_files = 0;
  int truncated_blocks = 0;  // blocks cut short by the end of their packed file: not written
  int rejected_blocks = 0;   // blocks whose name is not a plain file name: not written
  int failed_writes = 0;
  bool stopped = false;  // the quit request ended the run
};

// Corrections, then days, then series; files in name order, blocks in file order, each block
// written whole (atomically) as block header field 1 + ".csv", replacing any earlier file.
// `year_folder` is the year's folder (its last four characters are the year).
UnpackStats unpack_year(const std::string& year_folder, const UnpackHooks& hooks = {});

}  // namespace lp
