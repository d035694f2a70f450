// The session's life on a thread of its own: the portal's steps, the PipeWire
// streams of the shared monitors, then watching until the session ends.
#include "platform/wayland/wl_session.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/mutex.h"
#include "platform/wayland/wl_portal.h"
#include "platform/wayland/wl_token.h"

namespace zorsck::wayland {

// Declared in wl_backend.cc: the platform Display of a shared monitor.
platform::DisplayRef makeSharedDisplay(const SharedDisplay& display);

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryAfterFailure = std::chrono::seconds(5);
constexpr auto kNegotiationTimeout = std::chrono::seconds(5);
constexpr std::uint64_t kWatchIntervalUs = 1'000'000;
constexpr std::uint64_t kNegotiationPollUs = 50'000;

struct State {
  Mutex mu;
  Phase phase GUARDED_BY(mu) = Phase::idle;
  std::string message GUARDED_BY(mu);  // why, when refused or failed
  Clock::time_point failedAt GUARDED_BY(mu);
  std::vector<SharedDisplay> displays GUARDED_BY(mu);
  std::vector<glue::ContentCompletion> waiting GUARDED_BY(mu);
  // Set by the PipeWire side; read by the session thread.
  std::string broken GUARDED_BY(mu);
  int wakeFd GUARDED_BY(mu) = -1;
};

// The one state, never freed so late callbacks at exit still find it; any thread.
State& state() {
  static State* s = new State;
  return *s;
}

// Completes `completion` with `error` on the callback thread.
void failLater(glue::ContentCompletion completion, const std::string& error) {
  common::runOnCallbackThread([completion = std::move(completion), error] {
    const platform::Error e{error};
    completion(nullptr, &e);
  });
}

// Sets the settled phase and answers whoever waited; one line is logged when
// capture ends for good and nobody waited to carry it; session thread.
void settle(Phase phase, const std::string& message, std::vector<SharedDisplay> displays) {
  State& s = state();
  std::vector<glue::ContentCompletion> waiting;
  {
    MutexLock lock(&s.mu);
    s.phase = phase;
    s.message = message;
    s.displays = std::move(displays);
    if (phase == Phase::failed) s.failedAt = Clock::now();
    waiting.swap(s.waiting);
  }
  const std::string error =
      phase == Phase::ready ? "the screen cast was granted after this start measured the display; the next crop "
                              "starts the stream"
                            : message;
  for (auto& completion : waiting) failLater(std::move(completion), error);
  if (waiting.empty() && phase != Phase::ready) glue::logLine(message);
}

// Records why the session cannot go on and wakes its thread; any thread.
void markBroken(const std::string& why) {
  State& s = state();
  MutexLock lock(&s.mu);
  if (s.broken.empty()) s.broken = why;
  if (s.wakeFd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(s.wakeFd, &one, sizeof one);
  }
}

// Wakes the session thread; any thread.
void wake() { markBroken(""); }

// True when every capturer knows its format.
bool negotiated(const std::vector<std::shared_ptr<Capturer>>& capturers) {
  for (const auto& c : capturers) {
    if (c->format().width == 0) return false;
  }
  return true;
}

// The session thread: opens, serves and closes one session.
void runSession() {
  common::prepareThisThread("zorsck-portal");
  State& s = state();
  UniqueFd wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  {
    MutexLock lock(&s.mu);
    s.broken.clear();
    s.wakeFd = wakeFd.get();
  }
  const std::string tokenPath = restoreTokenPath();
  PortalSession portal;
  PortalGrant grant = portal.open(loadRestoreToken(tokenPath));
  std::shared_ptr<Remote> remote;
  std::vector<std::shared_ptr<Capturer>> capturers;
  std::string failure;
  if (grant.outcome == PortalOutcome::granted) {
    // Tokens are single-use: the new one replaces the old, or none is kept.
    saveRestoreToken(tokenPath, grant.restoreToken);
    std::vector<std::uint32_t> nodes;
    for (const SharedMonitor& m : grant.monitors) nodes.push_back(m.node);
    remote = Remote::connect(
        std::move(grant.pipewire),
        [nodes](std::uint32_t id) {
          for (const std::uint32_t node : nodes) {
            if (node == id) markBroken("the screen cast's PipeWire node " + std::to_string(id) + " went away");
          }
        },
        &failure);
  } else {
    failure = grant.message;
  }
  for (std::size_t i = 0; remote && failure.empty() && i < grant.monitors.size(); ++i) {
    auto capturer = std::make_shared<Capturer>(
        remote, grant.monitors[i].node, static_cast<platform::DisplayId>(i + 1),
        [](Capturer& c, const std::string& why) {
          if (!why.empty()) {
            markBroken(why);
            return;
          }
          // A changed size ends the streams cut to the old one; the next crop measures again.
          const VideoFormat f = c.format();
          bool resized = false;
          {
            State& st = state();
            MutexLock lock(&st.mu);
            for (SharedDisplay& d : st.displays) {
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
          wake();
        });
    if (!capturer->connect(&failure)) break;
    capturers.push_back(std::move(capturer));
  }
  if (failure.empty()) {
    const Clock::time_point deadline = Clock::now() + kNegotiationTimeout;
    while (!negotiated(capturers) && Clock::now() < deadline && portal.serve(wakeFd.get(), kNegotiationPollUs)) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd.get(), &count, sizeof count);
    }
    if (!negotiated(capturers)) failure = "PipeWire gave no picture format for the shared monitors within 5 s";
    MutexLock lock(&s.mu);
    if (failure.empty() && !s.broken.empty()) failure = s.broken;
  }
  if (!failure.empty()) {
    for (const auto& c : capturers) c->disconnect();
    capturers.clear();
    {
      MutexLock lock(&s.mu);
      s.wakeFd = -1;
    }
    settle(grant.outcome == PortalOutcome::refused ? Phase::refused : Phase::failed,
           grant.outcome == PortalOutcome::refused
               ? "screen capture refused: " + failure + "; not asking again in this process"
               : "screen capture unavailable: " + failure,
           {});
    return;
  }
  std::vector<SharedDisplay> displays;
  for (const auto& c : capturers) {
    c->release();  // connected again by the first stream that reads it
    displays.push_back({c->display(), c->format(), c});
  }
  settle(Phase::ready, "", std::move(displays));

  // Served until the portal closes the session or PipeWire fails.
  std::string why;
  for (;;) {
    const bool open = portal.serve(wakeFd.get(), kWatchIntervalUs);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd.get(), &count, sizeof count);
    {
      MutexLock lock(&s.mu);
      why = s.broken;
    }
    if (why.empty()) why = remote->failure();
    if (why.empty() && !open) why = "the desktop portal closed the screen-cast session";
    if (!why.empty()) break;
  }
  {
    MutexLock lock(&s.mu);
    s.phase = Phase::idle;  // the next use opens a new session
    s.displays.clear();
    s.wakeFd = -1;
  }
  for (const auto& c : capturers) {
    for (const auto& sink : c->sinks()) sendStopNotice(*sink, why);
    c->disconnect();
  }
  portal.close();
}

// Starts the session thread; with the state's lock held.
void launch(State& s) REQUIRES(s.mu) {
  s.phase = Phase::pending;
  try {
    std::thread(runSession).detach();
  } catch (const std::system_error& e) {
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
      launch(s);
      return s.phase != Phase::failed;
    case Phase::pending:
    case Phase::ready:
      return true;
    case Phase::refused:
      return false;
    case Phase::failed:
      if (Clock::now() - s.failedAt < kRetryAfterFailure) return false;
      launch(s);
      return s.phase != Phase::failed;
  }
  return false;
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
    case Phase::idle:
      launch(s);
      if (s.phase == Phase::failed) {
        failLater(std::move(completion), s.message);
      } else {
        s.waiting.push_back(std::move(completion));
      }
      return;
    case Phase::pending:
      s.waiting.push_back(std::move(completion));
      return;
    case Phase::refused:
    case Phase::failed:
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
