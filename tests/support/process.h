// Runs a program as a real child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace lp::test {

struct ProcessResult {
  int status = -1;  // exit status; 128 when it did not exit normally, -1 when it did not start
  std::string out, err;
};

// Runs argv[0] with argv (no shell), standard output and error captured through files in
// `scratch_folder`.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& scratch_folder);

}  // namespace lp::test
