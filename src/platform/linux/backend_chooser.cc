// The backend the platform's functions forward to, chosen at the first call.
// In a Wayland session the desktop portal is asked on a thread of its own:
// the first call waits for that answer a short while, never a lock others
// need, and until the answer comes every call answers as while a screen-cast
// session is pending (capture available, the displays not known yet, so no
// start is made).
// A bus that does not answer is asked again at a later call; after
// ten seconds without an answer calls answer "unavailable" until one comes.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/condvar.h"
#include "base/mutex.h"
#include "platform/common/threads.h"
#include "platform/linux/backend.h"
#include "platform/linux/backend_choice.h"

namespace zorsck::glue {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFirstCallWait = std::chrono::milliseconds(600);
constexpr auto kProbeAgainAfter = std::chrono::milliseconds(500);
constexpr auto kUndecidedPatience = std::chrono::seconds(10);

// The variable `name`, "" when unset; any thread.
std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Completes `completion` with `error` on the callback thread; any thread.
void failLater(ContentCompletion completion, const std::string& error) {
  common::runOnCallbackThread([completion = std::move(completion), error] {
    const platform::Error e{error};
    completion(nullptr, &e);
  });
}

class Chooser final : public Backend {
 public:
  // "" until a backend is chosen: the name never waits for the portal's answer.
  const char* name() const override {
    const Backend* b = chosen_.load(std::memory_order_acquire);
    return b != nullptr ? b->name() : "";
  }

  bool available() override {
    if (Backend* b = chosen(true)) return b->available();
    return !overdue();
  }

  bool displaysKnown() override {
    Backend* b = chosen(false);
    return b != nullptr && b->displaysKnown();
  }

  bool relistDisplays() override {
    Backend* b = chosen(false);
    return b != nullptr && b->relistDisplays();
  }

  platform::DisplayId mainDisplayId() override {
    Backend* b = chosen(false);
    return b != nullptr ? b->mainDisplayId() : 0;
  }

  bool displayMode(platform::DisplayId display, platform::DisplayModeInfo* info) override {
    Backend* b = chosen(false);
    return b != nullptr && b->displayMode(display, info);
  }

  bool displayPlace(platform::DisplayId display, std::int32_t* x, std::int32_t* y) override {
    Backend* b = chosen(false);
    return b != nullptr && b->displayPlace(display, x, y);
  }

  void getShareableContent(ContentCompletion completion) override {
    Backend* b = chosen(false);
    if (b == nullptr) {
      MutexLock lock(&mu_);
      b = chosen_.load(std::memory_order_relaxed);
      if (b == nullptr) {
        if (overdueLocked()) {
          failLater(std::move(completion), overdueMessage());
        } else {
          waiting_.push_back(std::move(completion));
        }
        return;
      }
    }
    b->getShareableContent(std::move(completion));
  }

  void withdrawContentQueries() override {
    if (Backend* b = chosen_.load(std::memory_order_acquire)) b->withdrawContentQueries();
  }

  // Displays come only from a chosen backend's list, so there is one here.
  platform::ContentFilterRef makeContentFilter(const platform::Display& display) override {
    Backend* b = chosen_.load(std::memory_order_acquire);
    return b != nullptr ? b->makeContentFilter(display) : nullptr;
  }

  platform::StreamRef makeStream(const platform::ContentFilter& filter,
                                 const platform::StreamConfiguration& configuration,
                                 platform::StreamOutputRef delegate) override {
    Backend* b = chosen_.load(std::memory_order_acquire);
    return b != nullptr ? b->makeStream(filter, configuration, std::move(delegate)) : nullptr;
  }

 private:
  // The chosen backend, or null while the portal has not answered. The first
  // call reads the environment and starts the choice; a later one asks the
  // portal again when due. With `mayWait`, waits until the first answer or
  // kFirstCallWait after the first call; any thread.
  Backend* chosen(bool mayWait) EXCLUDES(mu_) {
    if (Backend* b = chosen_.load(std::memory_order_acquire)) return b;
    MutexLock lock(&mu_);
    const Clock::time_point now = Clock::now();
    if (!begun_) {
      begun_ = true;
      since_ = now;
      requested_ = variable("ZOR_SCK_BACKEND");
      waylandDisplay_ = variable("WAYLAND_DISPLAY");
      sessionType_ = variable("XDG_SESSION_TYPE");
      const BackendChoice choice = choose(nullptr);
      if (choice.kind != BackendKind::undecided) return adopt(choice);
    }
    if (chosen_.load(std::memory_order_relaxed) == nullptr && !probing_ && now >= nextProbe_) launchProbe();
    while (mayWait && chosen_.load(std::memory_order_relaxed) == nullptr && probing_ &&
           Clock::now() < since_ + kFirstCallWait) {
      decided_.waitUntil(&mu_, since_ + kFirstCallWait);
    }
    return chosen_.load(std::memory_order_relaxed);
  }

  // The choice for the environment read at the first call and `portal`; with the lock held.
  BackendChoice choose(const PortalAnswer* portal) REQUIRES(mu_) {
    return chooseBackend(requested_.c_str(), waylandDisplay_.c_str(), sessionType_.c_str(), portal);
  }

  // Makes the backend `choice` names, logs the choice and hands it the starts
  // that waited; with the lock held.
  Backend* adopt(const BackendChoice& choice) REQUIRES(mu_) {
    // Never freed: late callbacks at exit still find it.
    Backend* b = (choice.kind == BackendKind::wayland ? makeWaylandBackend() : makeX11Backend()).release();
    chosen_.store(b, std::memory_order_release);
    logLine(choice.reason);
    // The starts that waited for the choice go on with the chosen backend's
    // displays, measured afresh there; later, so none runs under this lock.
    for (auto& completion : waiting_) {
      common::runOnCallbackThread(
          [b, completion = std::move(completion)]() mutable { b->getShareableContent(std::move(completion)); });
    }
    waiting_.clear();
    decided_.notifyAll();
    return b;
  }

  // Starts a thread that asks the portal once; with the lock held.
  void launchProbe() REQUIRES(mu_) {
    if (common::startThread([this] { probe(); })) {
      probing_ = true;
    } else {
      lastWhyNot_ = "cannot start a thread to ask the desktop portal";
      nextProbe_ = Clock::now() + kProbeAgainAfter;
    }
  }

  // Asks the portal and adopts the choice it settles, or lets a later call ask again; probe thread.
  void probe() EXCLUDES(mu_) {
    common::prepareThisThread("zorsck-probe");
    PortalAnswer answer;
    answer.probe = wayland::probePortal(&answer.detail);
    MutexLock lock(&mu_);
    probing_ = false;
    const BackendChoice choice = choose(&answer);
    if (choice.kind != BackendKind::undecided) {
      adopt(choice);
      return;
    }
    lastWhyNot_ = choice.reason;
    nextProbe_ = Clock::now() + kProbeAgainAfter;
    decided_.notifyAll();
  }

  // True once the choice has waited longer than kUndecidedPatience; any thread.
  bool overdue() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return overdueLocked();
  }

  // As overdue(), logging that once and failing the starts that waited for
  // the choice; with the lock held.
  bool overdueLocked() REQUIRES(mu_) {
    if (chosen_.load(std::memory_order_relaxed) != nullptr || Clock::now() - since_ < kUndecidedPatience) {
      return false;
    }
    if (!overdueLogged_) logLine(overdueMessage());
    overdueLogged_ = true;
    for (auto& completion : waiting_) failLater(std::move(completion), overdueMessage());
    waiting_.clear();
    return true;
  }

  // Why there is no backend after kUndecidedPatience; with the lock held.
  std::string overdueMessage() REQUIRES(mu_) {
    return "no backend chosen yet: " + lastWhyNot_ + "; asking again at the next call";
  }

  std::atomic<Backend*> chosen_{nullptr};  // set once, under mu_
  Mutex mu_;
  CondVar decided_;  // a probe ended
  bool begun_ GUARDED_BY(mu_) = false;
  Clock::time_point since_ GUARDED_BY(mu_);  // the first call
  std::string requested_ GUARDED_BY(mu_);
  std::string waylandDisplay_ GUARDED_BY(mu_);
  std::string sessionType_ GUARDED_BY(mu_);
  bool probing_ GUARDED_BY(mu_) = false;
  Clock::time_point nextProbe_ GUARDED_BY(mu_);
  std::string lastWhyNot_ GUARDED_BY(mu_) = "the desktop portal has not answered";
  bool overdueLogged_ GUARDED_BY(mu_) = false;
  std::vector<ContentCompletion> waiting_ GUARDED_BY(mu_);  // listings asked for before the choice
};

}  // namespace

Backend& backend() {
  static Chooser* const chooser = new Chooser;  // never freed: late callbacks at exit still find it
  return *chooser;
}

}  // namespace zorsck::glue
