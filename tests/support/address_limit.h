// Runs code under a cap on its address space, so a test can show that a reader does not
// reserve memory for the records a damaged header promises.
#pragma once

#include <cstddef>
#include <functional>

namespace lp::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressLimitWorks = false;  // the sanitizer reserves terabytes up front
#else
inline constexpr bool kAddressLimitWorks = true;
#endif

// Runs `fn` in a child process whose address space may grow by at most `headroom` bytes;
// true when it returned normally. A reservation beyond the cap ends the child instead of
// swapping the machine.
bool runs_within(std::size_t headroom, const std::function<void()>& fn);

}  // namespace lp::test
