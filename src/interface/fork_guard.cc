#include "interface/fork_guard.h"

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <atomic>

#include "state/capture_state.h"
#include "state/log.h"

namespace zorsck {
namespace {

std::atomic<bool> used{false};
std::atomic<bool> forkedAfterUse{false};
std::atomic<bool> told{false};

#if !defined(_WIN32)
// In the child, at the fork: the library is dead here if the parent had used it.
void afterForkInChild() {
  if (used.load()) forkedAfterUse.store(true);
}

// Registered when the library is loaded, before any host thread can call it:
// a fork racing a first call must find no initializer's guard or lock held.
// The capture state is made here too, for the same reason.
[[maybe_unused]] const bool gRegistered = [] {
  (void)captureState();
  return pthread_atfork(nullptr, nullptr, afterForkInChild) == 0;
}();
#endif  // Windows has no fork, and nothing of the library runs under its loader lock

}  // namespace

bool callAllowed() {
  if (forkedAfterUse.load()) {
    if (!told.exchange(true)) {
      logUnordered(
          "this process is a fork of one that used the library; its capture threads stayed in "
          "the parent, so every call here but zor_sck_seq answers -1");
    }
    return false;
  }
  // Marked before anything else of the library is touched, so a child forked
  // before this store saw no part of the library in use; the first use also
  // keeps closed standard streams from being taken by the library's descriptors.
  if (!used.load() && !used.exchange(true)) keepStandardStreamsTaken();
  return true;
}

}  // namespace zorsck
