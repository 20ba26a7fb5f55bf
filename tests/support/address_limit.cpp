#include "support/address_limit.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace lp::test {

bool runs_within(std::size_t headroom, const std::function<void()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;  // no child ran, so nothing was shown
  if (pid == 0) {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) pages = 0;
      std::fclose(f);
    }
    const rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
    rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_AS, &rl);
    try {
      fn();
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lp::test
