#include "interface/fork_guard.h"

#include <pthread.h>

#include <atomic>

#include "state/capture_state.h"
#include "state/log.h"

namespace zorsck {
namespace {

std::atomic<bool> used{false};
std::atomic<bool> forkedAfterUse{false};
std::atomic<bool> told{false};

// In the child, at the fork: the library is dead here if the parent had used it.
void afterForkInChild() {
  if (used.load(std::memory_order_relaxed)) forkedAfterUse.store(true, std::memory_order_relaxed);
}

}  // namespace

bool callAllowed() {
  if (forkedAfterUse.load(std::memory_order_relaxed)) {
    if (!told.exchange(true)) {
      logUnordered(
          "this process is a fork of one that used the library; its capture threads stayed in "
          "the parent, so every call here but zor_sck_seq answers -1");
    }
    return false;
  }
  if (!used.load(std::memory_order_relaxed)) {
    // Registered before the first use is marked: a fork in between leaves a
    // child that never saw the library used, which works normally.
    static const bool registered = pthread_atfork(nullptr, nullptr, afterForkInChild) == 0;
    (void)registered;
    used.store(true, std::memory_order_relaxed);
  }
  return true;
}

bool inForkedChild() { return forkedAfterUse.load(std::memory_order_relaxed); }

std::uint64_t sequenceAtFork() NO_THREAD_SAFETY_ANALYSIS {
  // The child has only the thread that forked and those it made since; no
  // thread of the library writes the state any more.
  return captureState().latestSeq;
}

}  // namespace zorsck
