// The session's life on a thread of its own: the portal's steps, the PipeWire
// streams of the shared monitors, then watching until the session ends.
#include "platform/wayland/wl_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "base/mutex.h"
#include "platform/wayland/wl_libraries.h"
#include "platform/wayland/wl_portal.h"
#include "platform/wayland/wl_token.h"

namespace zorsck::wayland {

// Declared in wl_backend.cc: the platform Display of a shared monitor.
platform::DisplayRef makeSharedDisplay(const SharedDisplay& display);

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryAfterFailure = std::chrono::seconds(5);
constexpr auto kAskAgainAfterWithdrawal = std::chrono::seconds(1);  // a stop and start loop asks once a second
constexpr auto kNegotiationTimeout = std::chrono::seconds(5);
constexpr auto kUnreadLinger = std::chrono::seconds(3);
constexpr std::uint64_t kWatchIntervalUs = 1'000'000;
constexpr std::uint64_t kNegotiationPollUs = 50'000;

class Watch;

struct State {
  Mutex mu;
  Phase phase GUARDED_BY(mu) = Phase::idle;
  std::string message GUARDED_BY(mu);  // why, when refused or failed
  Clock::time_point failedAt GUARDED_BY(mu);
  std::optional<Clock::time_point> withdrawnAt GUARDED_BY(mu);
  std::vector<SharedDisplay> displays GUARDED_BY(mu);  // the main display first
  std::vector<glue::ContentCompletion> waiting GUARDED_BY(mu);
  std::shared_ptr<Watch> asking GUARDED_BY(mu);  // the session waiting for the portal's answer
};

// The one state, never freed so late callbacks at exit still find it; any thread.
State& state() {
  static State* s = new State;
  return *s;
}

// What the PipeWire side of one session tells its thread: why the session
// cannot go on, and that something changed. Each session has its own, so a
// late report of an ended session reaches nobody else.
class Watch {
 public:
  // Records `why` (the first reason counts) and wakes the session thread; any thread.
  void markBroken(const std::string& why) EXCLUDES(mu_) {
    {
      MutexLock lock(&mu_);
      if (broken_.empty()) broken_ = why;
    }
    wake();
  }
  // Wakes the session thread; any thread.
  void wake() { wake_.ring(); }
  // Gives up the wait for the portal and wakes the session thread; any thread.
  void withdraw() {
    withdrawn_ = true;
    wake();
  }
  bool withdrawn() const { return withdrawn_; }
  const glue::Wakeup& wakeup() const { return wake_; }
  // Why the session cannot go on, or ""; any thread.
  std::string broken() const EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return broken_;
  }
  // Waits up to `timeoutUs` for the portal or a wake-up; false once the
  // portal closed the session; session thread.
  bool serve(PortalSession& portal, std::uint64_t timeoutUs) { return portal.serve(wake_, timeoutUs); }

 private:
  mutable Mutex mu_;
  std::string broken_ GUARDED_BY(mu_);
  std::atomic<bool> withdrawn_{false};
  const glue::Wakeup wake_;
};

// Completes `completion` with `error` on the callback thread.
void failLater(glue::ContentCompletion completion, const std::string& error) {
  common::runOnCallbackThread([completion = std::move(completion), error] {
    const platform::Error e{error};
    completion(nullptr, &e);
  });
}

// Sets the settled phase and answers whoever waited; one line is logged when
// capture ends and nobody waited to carry it; session thread.
void settle(Phase phase, const std::string& message, std::vector<SharedDisplay> displays) {
  State& s = state();
  std::vector<glue::ContentCompletion> waiting;
  {
    MutexLock lock(&s.mu);
    s.phase = phase;
    s.message = message;
    s.displays = std::move(displays);
    if (phase == Phase::failed) s.failedAt = Clock::now();
    if (phase == Phase::idle) s.withdrawnAt = Clock::now();  // settled idle: withdrawn
    waiting.swap(s.waiting);
  }
  // A start that waited for the grant goes on with the monitors now shared;
  // it measures them afresh, so the provisional display it was asked with does not matter.
  for (auto& completion : waiting) {
    if (phase == Phase::ready) {
      whenSettled(std::move(completion));
    } else {
      failLater(std::move(completion), message);
    }
  }
  if (waiting.empty() && (phase == Phase::refused || phase == Phase::failed)) glue::logLine(message);
}

// The index of the main display among `monitors`: the one at the origin
// when the portal places them, else the first; any thread.
std::size_t mainMonitor(const std::vector<SharedMonitor>& monitors) {
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    if (monitors[i].placed && monitors[i].x == 0 && monitors[i].y == 0) return i;
  }
  return 0;
}

// A capturer learned its format (`why` empty) or failed; on the loop thread.
// A changed size ends the streams cut to the old one; the next crop measures again.
void onCapturerEvent(Watch& watch, Capturer& c, const std::string& why) {
  if (!why.empty()) {
    watch.markBroken(why);
    return;
  }
  const VideoFormat f = c.format();
  bool resized = false;
  {
    State& s = state();
    MutexLock lock(&s.mu);
    for (SharedDisplay& d : s.displays) {
      if (d.capturer.get() != &c) continue;
      resized = d.format.width != f.width || d.format.height != f.height;
      d.format = f;
    }
  }
  if (resized) {
    for (const auto& sink : c.sinks()) {
      sendStopNotice(*sink, "display " + std::to_string(c.display()) + " changed size to " +
                                std::to_string(f.width) + "x" + std::to_string(f.height));
    }
  }
  watch.wake();
}

// Connects PipeWire and a stream per shared monitor, and waits until each
// knows its format; "" on success, else why not; session thread.
std::string connectStreams(PortalGrant& grant, PortalSession& portal, const std::shared_ptr<Watch>& watch,
                           std::vector<std::shared_ptr<Capturer>>* capturers) {
  std::vector<std::uint32_t> nodes;
  for (const SharedMonitor& m : grant.monitors) nodes.push_back(m.node);
  std::string failure;
  // A producer that dies takes its node along.
  const std::shared_ptr<Remote> remote = Remote::connect(
      std::move(grant.pipewire),
      [watch, nodes](std::uint32_t id) {
        if (std::find(nodes.begin(), nodes.end(), id) != nodes.end()) {
          watch->markBroken("the screen cast's PipeWire node " + std::to_string(id) + " went away");
        }
      },
      &failure);
  if (!remote) return failure;
  for (std::size_t i = 0; i < grant.monitors.size(); ++i) {
    auto capturer = Capturer::make(
        remote, grant.monitors[i].node, static_cast<platform::DisplayId>(i + 1),
        [watch](Capturer& c, const std::string& why) { onCapturerEvent(*watch, c, why); });
    if (!capturer->connect(&failure)) return failure;
    capturers->push_back(std::move(capturer));
  }
  const auto negotiated = [&] {
    return std::all_of(capturers->begin(), capturers->end(), [](const auto& c) { return c->format().width > 0; });
  };
  const Clock::time_point deadline = Clock::now() + kNegotiationTimeout;
  while (!negotiated() && watch->broken().empty() && Clock::now() < deadline &&
         watch->serve(portal, kNegotiationPollUs)) {
  }
  if (!watch->broken().empty()) return watch->broken();
  return negotiated() ? "" : "PipeWire gave no picture format for the shared monitors within 5 s";
}

// Serves a ready session until the portal closes it or PipeWire fails, and
// returns why. A stream stays connected a while after its last reader left
// (and after the start), so its picture is kept current for the next crops
// (a producer that sends on damage may send no other) and quick start/stop
// cycles need no new link; then it is let go; session thread.
std::string serveSession(PortalSession& portal, Watch& watch, const std::vector<std::shared_ptr<Capturer>>& capturers) {
  for (;;) {
    const bool open = watch.serve(portal, kWatchIntervalUs);
    for (const auto& c : capturers) c->releaseUnread(kUnreadLinger);
    std::string why = watch.broken();
    if (why.empty() && !capturers.empty()) why = capturers.front()->remoteFailure();
    if (why.empty() && !open) why = "the desktop portal closed the screen-cast session";
    if (!why.empty()) return why;
  }
}

// The session thread: opens, serves and closes one session, told by `watch`.
void runSession(const std::shared_ptr<Watch>& watch) {
  common::prepareThisThread("zorsck-portal");
  const std::string tokenPath = restoreTokenPath();
  std::string unusable;  // why the token's file or folder was not used
  PortalSession portal;
  PortalGrant grant =
      portal.open(loadRestoreToken(tokenPath, &unusable), watch->wakeup(), [&watch] { return watch->withdrawn(); });
  {
    State& s = state();
    MutexLock lock(&s.mu);
    if (s.asking == watch) s.asking.reset();
  }
  if (!unusable.empty()) glue::logLine(unusable);
  if (grant.outcome == PortalOutcome::withdrawn) {
    portal.close();
    settle(Phase::idle, grant.message, {});
    return;
  }
  std::vector<std::shared_ptr<Capturer>> capturers;
  std::string failure = grant.message;
  if (grant.outcome == PortalOutcome::granted) {
    // Tokens are single-use: the new one replaces the old, or none is kept.
    std::string unsaved;
    saveRestoreToken(tokenPath, grant.restoreToken, &unsaved);
    if (!unsaved.empty() && unsaved != unusable) glue::logLine(unsaved);
    failure = connectStreams(grant, portal, watch, &capturers);
  }
  if (!failure.empty()) {
    for (const auto& c : capturers) c->disconnect();
    const bool refused = grant.outcome == PortalOutcome::refused;
    settle(refused ? Phase::refused : Phase::failed,
           refused ? "screen capture refused: " + failure + "; not asking again in this process"
                   : "screen capture unavailable: " + failure,
           {});
    return;
  }
  std::vector<SharedDisplay> displays;
  for (const auto& c : capturers) displays.push_back({c->display(), c->format(), c});
  const std::size_t main = mainMonitor(grant.monitors);
  std::rotate(displays.begin(), displays.begin() + static_cast<std::ptrdiff_t>(main),
              displays.begin() + static_cast<std::ptrdiff_t>(main) + 1);
  settle(Phase::ready, "", std::move(displays));

  const std::string why = serveSession(portal, *watch, capturers);
  {
    // The next use opens a new session, beside this one's ending.
    State& s = state();
    MutexLock lock(&s.mu);
    s.phase = Phase::idle;
    s.displays.clear();
  }
  // Disconnected first: a stream that attaches from now on fails to start.
  for (const auto& c : capturers) {
    c->disconnect();
    for (const auto& sink : c->sinks()) sendStopNotice(*sink, why);
  }
  portal.close();
}

// Starts the session thread, or refuses for good when the backend's
// libraries cannot be loaded (saying so once); with the state's lock held.
void launch(State& s) REQUIRES(s.mu) {
  if (const std::string& missing = waylandLoadFailure(); !missing.empty()) {
    s.phase = Phase::refused;
    s.message = "Wayland capture is unavailable: " + missing;
    glue::logLine(s.message);
    return;
  }
  s.phase = Phase::pending;
  s.asking = std::make_shared<Watch>();
  try {
    std::thread(runSession, s.asking).detach();
  } catch (const std::system_error& e) {
    s.asking.reset();
    s.phase = Phase::failed;
    s.failedAt = Clock::now();
    s.message = std::string("cannot start the screen-cast thread: ") + e.what();
  }
}

}  // namespace

bool sessionAvailable() {
  State& s = state();
  MutexLock lock(&s.mu);
  switch (s.phase) {
    case Phase::idle:
      // Only a start asks the portal; a backend that cannot load says so now.
      if (!waylandLoadFailure().empty()) launch(s);
      return s.phase != Phase::refused;
    case Phase::pending:
    case Phase::ready:
      return true;
    case Phase::refused:
      return false;
    case Phase::failed:
      return Clock::now() - s.failedAt >= kRetryAfterFailure;
  }
  return false;
}

void withdrawPendingSession() {
  State& s = state();
  MutexLock lock(&s.mu);
  if (s.phase == Phase::pending && s.asking) s.asking->withdraw();
}

Phase sessionDisplays(std::vector<SharedDisplay>* displays) {
  State& s = state();
  MutexLock lock(&s.mu);
  if (s.phase == Phase::ready) *displays = s.displays;
  return s.phase;
}

void whenSettled(glue::ContentCompletion completion) {
  State& s = state();
  MutexLock lock(&s.mu);
  switch (s.phase) {
    case Phase::failed:
      if (Clock::now() - s.failedAt < kRetryAfterFailure) {
        failLater(std::move(completion), s.message);
        return;
      }
      [[fallthrough]];  // due to be tried again
    case Phase::idle:
      if (s.withdrawnAt && Clock::now() - *s.withdrawnAt < kAskAgainAfterWithdrawal) {
        failLater(std::move(completion), "the screen-cast request was withdrawn a moment ago; asking again shortly");
        return;
      }
      launch(s);
      if (s.phase != Phase::pending) {
        failLater(std::move(completion), s.message);
      } else {
        s.waiting.push_back(std::move(completion));
      }
      return;
    case Phase::pending:
      s.waiting.push_back(std::move(completion));
      return;
    case Phase::refused:
      failLater(std::move(completion), s.message);
      return;
    case Phase::ready: {
      auto content = std::make_shared<platform::ShareableContent>();
      for (const SharedDisplay& d : s.displays) content->displays.push_back(makeSharedDisplay(d));
      common::runOnCallbackThread([completion = std::move(completion), content] { completion(content, nullptr); });
      return;
    }
  }
}

}  // namespace zorsck::wayland
