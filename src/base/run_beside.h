#pragma once
// Two pieces of work at once, on this thread and one more.

#include <future>
#include <system_error>

namespace varnholt_app {

// Runs `here` on this thread and `beside` on a thread of its own, or after
// `here` when no thread can be had; returns when both are done. An
// exception from either comes out here, once both are done.
template <typename Here, typename Beside>
void runBeside(Here&& here, Beside&& beside) {
  std::future<void> other;
  try {
    other = std::async(std::launch::async, [&beside] { beside(); });
  } catch (const std::system_error&) {
    // No thread to spare: `beside` runs after `here`.
  }
  if (!other.valid()) {
    here();
    beside();
    return;
  }
  try {
    here();
  } catch (...) {
    other.wait();  // `beside` may still use what `here` leaves behind
    throw;
  }
  other.get();
}

}  // namespace varnholt_app
