// The session's life on the PipeWire loop: the portal's steps, the PipeWire
// streams of the shared monitors, then watching until the session ends.
#include "platform/wayland/wl_session.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "base/mutex.h"
#include "platform/common/threads.h"
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
constexpr auto kLingerCheck = std::chrono::seconds(1);

class Cast;

struct State {
  Mutex mu;
  Phase phase GUARDED_BY(mu) = Phase::idle;
  std::string message GUARDED_BY(mu);  // why, when refused or failed
  Clock::time_point failedAt GUARDED_BY(mu);
  std::optional<Clock::time_point> withdrawnAt GUARDED_BY(mu);
  std::vector<SharedDisplay> displays GUARDED_BY(mu);  // the main display first
  std::vector<glue::ContentCompletion> waiting GUARDED_BY(mu);
  std::shared_ptr<Cast> cast GUARDED_BY(mu);  // the session asked for or served
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
// capture ends and nobody waited to carry it; loop thread.
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

// One screen-cast session, from the portal's question to its end; every
// member is used on the loop thread only.
class Cast : public std::enable_shared_from_this<Cast> {
 public:
  // Asks the portal, with the saved restore token; loop thread.
  void begin() REQUIRES(pipewireLoop) {
    tokenPath_ = restoreTokenPath();
    const std::weak_ptr<Cast> weak = weak_from_this();
    portal_.open(loadRestoreToken(tokenPath_, &unusable_), [weak](std::shared_ptr<PortalGrant> grant) {
      pipewireLoop.held();
      if (const auto self = weak.lock()) self->granted(*grant);
    }, [weak](const std::string& why) { later(weak, why); });
  }

  // Gives up the wait for the portal's answer; any thread.
  void withdraw() {
    pipewireLoop.post([weak = weak_from_this()] {
      pipewireLoop.held();
      if (const auto self = weak.lock()) self->portal_.withdraw();
    });
  }

 private:
  enum class Stage { asking, negotiating, serving, over };

  // Ends the session with `why` from the loop, outside PipeWire's and the bus's dispatch; any thread.
  static void later(const std::weak_ptr<Cast>& weak, const std::string& why) {
    pipewireLoop.post([weak, why] {
      pipewireLoop.held();
      if (const auto self = weak.lock()) self->broken(why);
    });
  }

  // The portal's steps ended; loop thread.
  void granted(PortalGrant& grant) REQUIRES(pipewireLoop) {
    if (!unusable_.empty()) glue::logLine(unusable_);
    if (grant.outcome == PortalOutcome::withdrawn) {
      finish();
      settle(Phase::idle, grant.message, {});
      return;
    }
    refused_ = grant.outcome == PortalOutcome::refused || grant.outcome == PortalOutcome::unanswered;
    if (grant.outcome != PortalOutcome::granted) return fail(grant.message);
    // Tokens are single-use: the new one replaces the old, or none is kept.
    std::string unsaved;
    saveRestoreToken(tokenPath_, grant.restoreToken, &unsaved);
    if (!unsaved.empty() && unsaved != unusable_) glue::logLine(unsaved);
    monitors_ = grant.monitors;
    const std::string failure = connectStreams(grant);
    if (!failure.empty()) return fail(failure);
    stage_ = Stage::negotiating;
    negotiation_ = std::make_unique<LoopTimer>([this] {
      pipewireLoop.held();
      fail("PipeWire gave no picture format for the shared monitors within 5 s");
    });
    negotiation_->arm(kNegotiationTimeout);
  }

  // Connects PipeWire and a stream per shared monitor; "" or why not; loop thread.
  std::string connectStreams(PortalGrant& grant) REQUIRES(pipewireLoop) {
    std::string failure;
    remote_ = connectRemote(std::move(grant.pipewire), &failure);
    if (!remote_) return failure;
    const std::weak_ptr<Cast> weak = weak_from_this();
    for (std::size_t i = 0; i < grant.monitors.size(); ++i) {
      auto capturer = Capturer::make(
          grant.monitors[i].node, static_cast<platform::DisplayId>(i + 1),
          [weak](Capturer& c, const std::string& why) { onCapturerEvent(weak, c, why); },
          [weak] {
            pipewireLoop.post([weak] {
              pipewireLoop.held();
              if (const auto self = weak.lock()) self->link();
            });
          });
      if (!capturer->connect(remote_, &failure)) return failure;
      capturers_.push_back(std::move(capturer));
    }
    return "";
  }

  // A PipeWire connection over the portal's remote `fd`, watching the shared
  // monitors' nodes; null with `failure` filled; loop thread.
  std::shared_ptr<Remote> connectRemote(UniqueFd fd, std::string* failure) REQUIRES(pipewireLoop) {
    std::vector<std::uint32_t> nodes;
    for (const SharedMonitor& m : monitors_) nodes.push_back(m.node);
    const std::weak_ptr<Cast> weak = weak_from_this();
    // A producer that dies takes its node along.
    return Remote::connect(
        std::move(fd),
        [weak, nodes](std::uint32_t id) {
          if (std::find(nodes.begin(), nodes.end(), id) != nodes.end()) {
            later(weak, "the screen cast's PipeWire node " + std::to_string(id) + " went away");
          }
        },
        [weak](const std::string& why) { later(weak, why); }, failure);
  }

  // Links again the streams that sinks wait for, over the connection, or
  // over a new one from the portal when the last was let go; loop thread.
  void link() REQUIRES(pipewireLoop) {
    if (stage_ != Stage::serving || opening_) return;
    if (!remote_) {
      opening_ = true;
      const std::weak_ptr<Cast> weak = weak_from_this();
      portal_.openRemote([weak](std::shared_ptr<UniqueFd> fd, const std::string& error) {
        pipewireLoop.held();
        if (const auto self = weak.lock()) self->relink(std::move(fd), error);
      });
      return;
    }
    for (const auto& c : capturers_) {
      std::string failure;
      if (!c->wanted() || c->linked() || c->connect(remote_, &failure)) continue;
      for (const auto& sink : c->sinks()) sendStopNotice(*sink, failure);
    }
  }

  // The portal gave another remote `fd`, or none for `error`; loop thread.
  void relink(std::shared_ptr<UniqueFd> fd, const std::string& error) REQUIRES(pipewireLoop) {
    opening_ = false;
    if (stage_ != Stage::serving) return;
    std::string failure = error;
    if (fd) remote_ = connectRemote(std::move(*fd), &failure);
    if (!remote_) return end(failure);
    link();
  }

  // A capturer learned its format (`why` empty) or failed; on the loop thread,
  // inside PipeWire's dispatch. A changed size ends the streams cut to the
  // old one; the next crop measures again.
  static void onCapturerEvent(const std::weak_ptr<Cast>& weak, Capturer& c, const std::string& why) {
    if (!why.empty()) return later(weak, why);
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
    pipewireLoop.post([weak] {
      pipewireLoop.held();
      if (const auto self = weak.lock()) self->negotiated();
    });
  }

  // Makes the session ready once every stream knows its format; loop thread.
  void negotiated() REQUIRES(pipewireLoop) {
    if (stage_ != Stage::negotiating) return;
    if (!std::all_of(capturers_.begin(), capturers_.end(), [](const auto& c) { return c->format().width > 0; })) {
      return;
    }
    stage_ = Stage::serving;
    negotiation_->disarm();
    std::vector<SharedDisplay> displays;
    for (std::size_t i = 0; i < capturers_.size(); ++i) {
      const SharedMonitor& m = monitors_[i];
      displays.push_back({capturers_[i]->display(), capturers_[i]->format(), capturers_[i], m.placed, m.x, m.y});
    }
    const std::size_t main = mainMonitor(monitors_);
    std::rotate(displays.begin(), displays.begin() + static_cast<std::ptrdiff_t>(main),
                displays.begin() + static_cast<std::ptrdiff_t>(main) + 1);
    // A stream stays connected a while after its last reader left (and after
    // the start), so its picture is kept current for the next crops (a
    // producer that sends on damage may send no other) and quick start/stop
    // cycles need no new link; then it is let go.
    linger_ = std::make_unique<LoopTimer>([this] {
      pipewireLoop.held();
      for (const auto& c : capturers_) c->releaseUnread(kUnreadLinger);
      // With no stream linked the connection goes too, and PipeWire's data
      // thread with it, once PipeWire has read the unlinks and suspends: a
      // connection closed at once may drop what it has not sent yet.
      if (remote_ && std::none_of(capturers_.begin(), capturers_.end(), [](const auto& c) {
            pipewireLoop.held();
            return c->linked();
          })) {
        std::shared_ptr<Remote> leaving = std::move(remote_);
        leaving->afterRoundTrip([leaving]() mutable { leaving.reset(); });
      }
    });
    linger_->arm(kLingerCheck, kLingerCheck);
    settle(Phase::ready, "", std::move(displays));
  }

  // The session cannot go on for `why`; loop thread.
  void broken(const std::string& why) REQUIRES(pipewireLoop) {
    if (stage_ == Stage::negotiating) fail(why);
    if (stage_ == Stage::serving) end(why);
  }

  // Capture could not begin for `failure`; loop thread.
  void fail(const std::string& failure) REQUIRES(pipewireLoop) {
    for (const auto& c : capturers_) c->disconnect();
    finish();
    settle(refused_ ? Phase::refused : Phase::failed,
           refused_ ? "screen capture refused: " + failure + "; not asking again in this process"
                    : "screen capture unavailable: " + failure,
           {});
  }

  // A ready session ended for `why`: its streams are told; loop thread.
  void end(const std::string& why) REQUIRES(pipewireLoop) {
    // The next use opens a new session, beside this one's ending.
    finish(true);
    // Disconnected first: a stream that attaches from now on fails to start.
    for (const auto& c : capturers_) {
      c->disconnect();
      for (const auto& sink : c->sinks()) sendStopNotice(*sink, why);
    }
  }

  // Closes the portal's session and lets this one go (idle, when `idle`):
  // the state lets go of it at once, so the next use may begin another, and
  // it is freed in a task of its own, outside the callback that ended it; loop thread.
  void finish(bool idle = false) REQUIRES(pipewireLoop) {
    stage_ = Stage::over;
    if (negotiation_) negotiation_->disarm();
    if (linger_) linger_->disarm();
    portal_.close();
    std::shared_ptr<Cast> self;
    {
      State& s = state();
      MutexLock lock(&s.mu);
      if (s.cast.get() == this) {
        self = std::move(s.cast);
        if (idle) {
          s.phase = Phase::idle;
          s.displays.clear();
        }
      }
    }
    pipewireLoop.post([self] {});
  }

  PortalSession portal_ GUARDED_BY(pipewireLoop);
  std::string tokenPath_ GUARDED_BY(pipewireLoop);
  std::string unusable_ GUARDED_BY(pipewireLoop);  // why the token's file or folder was not used
  bool refused_ GUARDED_BY(pipewireLoop) = false;
  Stage stage_ GUARDED_BY(pipewireLoop) = Stage::asking;
  std::vector<SharedMonitor> monitors_ GUARDED_BY(pipewireLoop);
  std::shared_ptr<Remote> remote_ GUARDED_BY(pipewireLoop);  // while a stream is linked
  bool opening_ GUARDED_BY(pipewireLoop) = false;             // a new remote is asked for
  std::vector<std::shared_ptr<Capturer>> capturers_ GUARDED_BY(pipewireLoop);
  std::unique_ptr<LoopTimer> negotiation_ GUARDED_BY(pipewireLoop);
  std::unique_ptr<LoopTimer> linger_ GUARDED_BY(pipewireLoop);
};

// Starts a session on the PipeWire loop, or refuses for good when the
// backend's libraries cannot be loaded (saying so once); with the state's lock held.
void launch(State& s) REQUIRES(s.mu) {
  if (const std::string& missing = waylandLoadFailure(); !missing.empty()) {
    s.phase = Phase::refused;
    s.message = "Wayland capture is unavailable: " + missing;
    glue::logLine(s.message);
    return;
  }
  if (const std::string& failure = pipewireLoop.start(); !failure.empty()) {
    s.phase = Phase::failed;
    s.failedAt = Clock::now();
    s.message = "screen capture unavailable: " + failure;
    return;
  }
  s.phase = Phase::pending;
  s.cast = std::make_shared<Cast>();
  pipewireLoop.post([cast = s.cast] {
    pipewireLoop.held();
    cast->begin();
  });
}

// True when a session may be asked for now: none was withdrawn a moment ago; with the state's lock held.
bool mayAsk(const State& s) REQUIRES(s.mu) {
  return !s.withdrawnAt || Clock::now() - *s.withdrawnAt >= kAskAgainAfterWithdrawal;
}

}  // namespace

bool sessionAvailable() {
  State& s = state();
  MutexLock lock(&s.mu);
  switch (s.phase) {
    case Phase::idle:
      // Only a crop asks the portal; a backend that cannot load says so now.
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

bool sessionDisplaysKnown() {
  State& s = state();
  MutexLock lock(&s.mu);
  const bool due = s.phase == Phase::idle || (s.phase == Phase::failed && Clock::now() - s.failedAt >= kRetryAfterFailure);
  if (due && mayAsk(s)) launch(s);
  return s.phase == Phase::ready;
}

void withdrawPendingSession() {
  State& s = state();
  MutexLock lock(&s.mu);
  if (s.phase == Phase::pending && s.cast) s.cast->withdraw();
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
      if (!mayAsk(s)) {
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
