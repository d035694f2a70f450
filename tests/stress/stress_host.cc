#include "stress/stress_host.h"

#include <chrono>
#include <limits>
#include <thread>

#include "zorsck.h"

namespace zorsck::stress {
namespace {

constexpr unsigned kOk = 1u << 1;
constexpr unsigned kNoFrame = 1u << 2;
constexpr unsigned kNotServable = 1u << 3;
constexpr unsigned kGone = 1u << 4;
constexpr unsigned kError = 1u << 0;

std::atomic<std::int64_t> gNextDisruptionNs{0};

// True for the one thread that may stop or move the stream now: one such turn
// every 0.6 to 1.4 s over all threads, so that crops mostly find a frame. Host thread.
bool disruptionTurn(std::mt19937_64& rng) {
  const std::int64_t now = steadyNowNs();
  std::int64_t next = gNextDisruptionNs.load();
  if (now < next) return false;
  const auto pause = static_cast<std::int64_t>(600 + rng() % 800) * 1'000'000;
  return gNextDisruptionNs.compare_exchange_strong(next, now + pause);
}

}  // namespace

void Host::run(const std::atomic<bool>& running) {
  while (running.load(std::memory_order_relaxed)) {
    step();
    // A host does other work between calls. The pauses also leave the
    // library's and the display's threads their share of a small machine, so
    // that every thread's calls stay prompt under a sanitizer.
    std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 400));
  }
}

void Host::step() {
  const std::uint64_t pick = rng_() % 100;
  if (pick < 38) {
    cropInside();
  } else if (pick < 50) {
    cropSameFrame(frameSeq_, 1);
  } else if (pick < 62) {
    cropBad();
  } else if (pick < 72) {
    cropSeqBad();
  } else if (pick < 84) {
    callSeq();
  } else if (pick < 96) {
    callEnsure();
  } else {
    callStop();
  }
}

void Host::cropInside() {
  Request r;
  r.fn = Fn::crop;
  r.rect = rng_() % 100 < 8 ? emptyRect(rng_) : insideRect(rng_, regionMode_);
  const std::uint64_t d = rng_() % 20;
  r.display = d < 10 ? 0 : (d < 19 ? kMainDisplay : kOtherDisplay);
  r.giveTs = rng_() % 10 != 0;
  r.giveSeq = rng_() % 10 != 0;
  // A whole-display stream always shows every pixel of the display that crops
  // measured, whichever display it runs on: display 0 is never refused then.
  const bool alwaysInside = !regionMode_ && r.display == 0;
  r.allowed = kOk | kNoFrame | kError | (alwaysInside ? 0 : kNotServable);
  const Answer a = call(r);
  if (a.code == ZOR_SCK_OK && r.giveSeq && rng_() % 2 == 0) {
    cropSameFrame(a.seq, 1 + static_cast<int>(rng_() % 3));
  }
}

void Host::cropSameFrame(std::uint64_t seq, int count) {
  for (int i = 0; i < count; ++i) {
    Request r;
    r.fn = Fn::cropSeq;
    r.seq = seq;
    r.rect = rng_() % 100 < 8 ? emptyRect(rng_) : insideRect(rng_, regionMode_);
    r.display = rng_() % 4 == 0 ? kMainDisplay : 0;
    r.giveTs = rng_() % 10 != 0;
    r.giveSeq = rng_() % 10 != 0;
    const bool alwaysInside = !regionMode_ && r.display == 0;
    r.allowed = kOk | kGone | kError | (alwaysInside ? 0 : kNotServable);
    call(r);
  }
}

void Host::cropBad() {
  Request r;
  r.fn = Fn::crop;
  r.display = rng_() % 2 == 0 ? 0 : kMainDisplay;
  r.allowed = kNoFrame | kNotServable;
  switch (rng_() % 4) {
    case 0:
      r.rect = insideRect(rng_, regionMode_);
      r.nullOut = true;
      r.allowed = kError;
      break;
    case 1:
      r.rect = insideRect(rng_, regionMode_);
      r.display = rng_() % 2 == 0 ? kUnknownDisplay : std::numeric_limits<std::uint32_t>::max();
      break;
    default:
      r.rect = outsideRect(rng_);
      if (rng_() % 8 == 0) r.display = kOtherDisplay;
      break;
  }
  call(r);
}

void Host::cropSeqBad() {
  Request r;
  r.fn = Fn::cropSeq;
  r.display = rng_() % 2 == 0 ? 0 : kMainDisplay;
  r.rect = insideRect(rng_, regionMode_);
  r.seq = frameSeq_;
  // Served numbers only grow, so anything below this thread's highest is gone.
  r.allowed = kGone;
  switch (rng_() % 7) {
    case 0:
      r.nullOut = true;
      r.allowed = kError;
      break;
    case 1:
      if (lastServed_ <= 10) return;
      r.seq = lastServed_ - 1 - rng_() % 10;
      break;
    case 2:
      r.seq = lastLatest_ + 1'000'000 + rng_() % 1000;
      break;
    case 3:
      r.seq = 0;
      break;
    case 4:
      r.seq = rng_() | (std::uint64_t{1} << 63);
      break;
    case 5:
      r.display = kUnknownDisplay;
      break;
    default:
      r.rect = outsideRect(rng_);
      r.allowed = kNotServable | kGone | kError;
      break;
  }
  call(r);
}

void Host::callEnsure() {
  static constexpr std::int32_t kRates[] = {0, 30, 60, 240, -5,
                                            std::numeric_limits<std::int32_t>::max()};
  const std::uint64_t d = rng_() % 10;
  std::uint32_t display = d < 4 ? 0 : kMainDisplay;
  if (d == 9 && disruptionTurn(rng_)) {
    static constexpr std::uint32_t kOthers[] = {kOtherDisplay, kUnknownDisplay,
                                                std::numeric_limits<std::uint32_t>::max()};
    display = kOthers[rng_() % 3];
  }
  const std::int32_t fps = kRates[rng_() % 6];
  slot_.begin(Fn::ensure, display, 0, fps, 0, 0, 0);
  const std::int32_t code = zor_sck_ensure(display, fps);
  slot_.end();
  countCall(Fn::ensure, code);
  if (code != ZOR_SCK_OK) {
    fail("zor_sck_ensure(display " + std::to_string(display) + ", fps " + std::to_string(fps) +
         ") answered " + std::to_string(code));
  }
}

void Host::callStop() {
  if (!disruptionTurn(rng_)) {
    callSeq();
    return;
  }
  // Now and then a host stops and crops again at once, a few times in a row:
  // starts then overlap stops and one another.
  const int rounds = rng_() % 2 == 0 ? 1 : 2 + static_cast<int>(rng_() % 3);
  for (int i = 0; i < rounds; ++i) {
    slot_.begin(Fn::stop, 0, 0, 0, 0, 0, 0);
    zor_sck_stop();
    slot_.end();
    countCall(Fn::stop, 0);
    if (rounds > 1) cropInside();
  }
}

}  // namespace zorsck::stress
