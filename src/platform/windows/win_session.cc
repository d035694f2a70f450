// The kept listing of the outputs and the listings in the background.
#include "platform/windows/win_session.h"

#include <chrono>

#include "base/mutex.h"
#include "platform/common/threads.h"

namespace zorsck::win {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRelistInterval = std::chrono::seconds(1);

struct Session {
  Mutex mu;
  std::vector<Output> outputs GUARDED_BY(mu);
  bool listed GUARDED_BY(mu) = false;     // a listing has ended
  bool listing GUARDED_BY(mu) = false;    // a listing runs on the worker
  bool asked GUARDED_BY(mu) = false;      // one was ever asked for
  Clock::time_point lastAsked GUARDED_BY(mu);
};

// The one session, never freed so late callbacks at exit still find it; any thread.
Session& session() {
  static Session* const s = new Session;
  return *s;
}

// Claims a background listing unless one runs or was asked for within the
// last second (`always`: whenever none runs); with the lock held.
bool claimListing(Session& s, bool always) REQUIRES(s.mu) {
  const Clock::time_point now = Clock::now();
  if (s.listing || (!always && s.asked && now - s.lastAsked < kRelistInterval)) return false;
  s.listing = true;
  s.asked = true;
  s.lastAsked = now;
  return true;
}

// Runs a claimed listing on the worker; false when no thread could run it; any thread.
bool listInBackground() {
  const bool queued = common::runBlocking([] {
    seePhysicalPixels();
    std::vector<Output> outputs;
    std::string error;
    refreshOutputs(&outputs, &error);
    Session& done = session();
    MutexLock lock(&done.mu);
    done.listing = false;
    done.listed = true;
  });
  if (queued) return true;
  Session& s = session();
  MutexLock lock(&s.mu);
  s.listing = false;  // the refusal stands; a later question asks again
  return false;
}

}  // namespace

bool displaysKnown() {
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    if (s.listed) return true;
    if (!claimListing(s, /*always=*/true)) return false;
  }
  listInBackground();
  return false;
}

bool relistDisplays() {
  Session& s = session();
  {
    MutexLock lock(&s.mu);
    if (s.listing) return true;
    if (!claimListing(s, /*always=*/false)) return false;
  }
  return listInBackground();
}

bool refreshOutputs(std::vector<Output>* out, std::string* error) {
  const bool listed = listOutputs(out, error);
  Session& s = session();
  MutexLock lock(&s.mu);
  s.outputs = listed ? *out : std::vector<Output>{};
  return listed;
}

void keepOutputs(const std::vector<Output>& outputs) {
  Session& s = session();
  MutexLock lock(&s.mu);
  s.outputs = outputs;
  s.listed = true;
}

bool findOutput(platform::DisplayId id, Output* out) {
  Session& s = session();
  MutexLock lock(&s.mu);
  if (s.outputs.empty()) return false;
  if (id == 0) {
    *out = s.outputs.front();
    return true;
  }
  for (const Output& o : s.outputs) {
    if (o.id == id) {
      *out = o;
      return true;
    }
  }
  return false;
}

}  // namespace zorsck::win
