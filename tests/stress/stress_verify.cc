// The checked calls of a host thread: every crop and crop_seq answer against
// the codes allowed, the sentinels, the formula frame and the clocks.
#include <algorithm>

#include "platform/sim/sim_control.h"
#include "stress/stress_faults.h"
#include "stress/stress_host.h"
#include "zorsck.h"

namespace zorsck::stress {
namespace {

// A served frame's timestamp may be at most this old when the call returns.
constexpr std::uint64_t kOldestFrameMs = 5000;

std::atomic<std::uint64_t> gLargestAgeMs{0};

// Copies above this many bytes take one thread at a time: a few of them at once
// on a small machine under a sanitizer would take their time from each other.
constexpr std::size_t kBigCopyBytes = 1 << 20;
std::atomic<bool> gBigCopyBusy{false};

// Holds the one turn for a big copy, if it got it, for the scope; host thread.
class BigCopyTurn {
 public:
  BigCopyTurn() : held_(!gBigCopyBusy.exchange(true)) {}
  ~BigCopyTurn() {
    if (held_) gBigCopyBusy.store(false);
  }
  BigCopyTurn(const BigCopyTurn&) = delete;
  BigCopyTurn& operator=(const BigCopyTurn&) = delete;
  // True when this scope has the turn; host thread.
  bool held() const { return held_; }

 private:
  bool held_;
};

// The call as text, for failure messages; host thread.
std::string describe(Fn fn, std::uint32_t display, std::uint64_t seq, const Rect& r, bool nullOut) {
  std::string text = std::string(fnName(fn)) + "(display " + std::to_string(display);
  if (fn == Fn::cropSeq) text += ", seq " + std::to_string(seq);
  text += ", x " + std::to_string(r.x) + ", y " + std::to_string(r.y) + ", w " +
          std::to_string(r.w) + ", h " + std::to_string(r.h) + (nullOut ? ", out null)" : ")");
  return text;
}

// True when `allowed` has the bit of `code`; host thread.
bool allows(unsigned allowed, std::int32_t code) {
  return code >= -1 && code <= 3 && (allowed & (1u << (code + 1))) != 0;
}

}  // namespace

std::uint64_t largestFrameAgeMs() { return gLargestAgeMs.load(); }

Host::Answer Host::call(const Request& asked) {
  Request request = asked;
  const BigCopyTurn turn;
  if (bufferBytes(request.rect) > kBigCopyBytes && !turn.held()) {
    request.rect.h = std::max<std::uint32_t>(1, kBigCopyBytes / 4 / request.rect.w);
  }
  std::uint8_t* out = request.nullOut ? nullptr : buffer_.prepare(bufferBytes(request.rect));
  Answer a;
  std::uint64_t* ts = request.giveTs ? &a.ts : nullptr;
  std::uint64_t* seq = request.giveSeq ? &a.seq : nullptr;
  const Rect& r = request.rect;
  slot_.begin(request.fn, request.display, request.seq, r.x, r.y, r.w, r.h);
  if (request.fn == Fn::crop) {
    a.code = zor_sck_crop(request.display, r.x, r.y, r.w, r.h, out, ts, seq);
  } else {
    a.code = zor_sck_crop_seq(request.display, request.seq, r.x, r.y, r.w, r.h, out, ts, seq);
  }
  slot_.end();
  a.nowMs = wallNowMs();
  a.framesAfter = sim::framesDelivered();
  countCall(request.fn, a.code);

  const std::string what = describe(request.fn, request.display, request.seq, r, request.nullOut);
  if (a.code == ZOR_SCK_OK && allows(request.allowed, a.code)) {
    checkServed(request, a, what);
  } else {
    checkRefused(request, a, what);
  }
  return a;
}

void Host::checkRefused(const Request& request, const Answer& a, const std::string& what) {
  const std::string answered = what + " answered " + std::to_string(a.code);
  if (!allows(request.allowed, a.code)) fail(answered + ", which it may not here");
  if (a.code == ZOR_SCK_ERROR && !request.nullOut && !nullBaseAddressInjected()) {
    fail(answered + " with out given and no inaccessible frame ever delivered");
  }
  if (!request.nullOut && !buffer_.untouched()) fail(answered + " but wrote to out");
  if (a.ts != kOutSentinel) fail(answered + " but wrote outTs");
  if (a.seq != kOutSentinel) fail(answered + " but wrote outSeq");
}

void Host::checkServed(const Request& request, const Answer& a, const std::string& what) {
  const Rect& r = request.rect;
  noteServed();
  if (!buffer_.guardIntact()) fail(what + " answered 0 and wrote past w * h * 4 bytes");
  if (request.giveSeq) checkSequence(request, a, what);
  if (request.giveTs) checkTimestamp(request, a, what);
  if (r.w == 0 || r.h == 0) return;
  // Without outSeq only n mod 256 is known, from the alpha byte; the formula needs no more.
  const std::uint64_t n = request.giveSeq ? a.seq : buffer_.data()[3];
  const std::string difference = differenceFromFrame(buffer_.data(), r, n, rng_);
  if (!difference.empty()) fail(what + " answered 0 with seq " + std::to_string(n) + ": " + difference);
}

void Host::checkSequence(const Request& request, const Answer& a, const std::string& what) {
  const std::string gave = what + " answered 0 with seq " + std::to_string(a.seq);
  if (a.seq == 0 || a.seq > a.framesAfter) {
    fail(gave + " while " + std::to_string(a.framesAfter) + " frames were delivered");
  }
  if (request.fn == Fn::cropSeq && a.seq != request.seq) fail(gave + ", not the one asked for");
  if (a.seq < lastServed_) {
    fail(gave + " after this thread was served frame " + std::to_string(lastServed_));
  }
  if (request.fn == Fn::crop && a.seq < lastLatest_) {
    fail(gave + " after this thread saw latest frame " + std::to_string(lastLatest_));
  }
  lastServed_ = std::max(lastServed_, a.seq);
  lastLatest_ = std::max(lastLatest_, a.seq);
  if (request.fn == Fn::crop) {
    frameSeq_ = a.seq;
    frameTs_ = request.giveTs ? a.ts : 0;
  }
}

void Host::checkTimestamp(const Request& request, const Answer& a, const std::string& what) {
  const std::string gave = what + " answered 0 with ts " + std::to_string(a.ts);
  if (a.ts > a.nowMs) {
    fail(gave + ", " + std::to_string(a.ts - a.nowMs) + " ms in the future");
    return;
  }
  const std::uint64_t age = a.nowMs - a.ts;
  std::uint64_t largest = gLargestAgeMs.load();
  while (age > largest && !gLargestAgeMs.compare_exchange_weak(largest, age)) {
  }
  if (age > kOldestFrameMs) fail(gave + ", " + std::to_string(age) + " ms old");
  if (request.fn == Fn::cropSeq && request.giveSeq && a.seq == frameSeq_ && frameTs_ != 0 &&
      a.ts != frameTs_) {
    fail(gave + " but zor_sck_crop gave frame " + std::to_string(frameSeq_) + " ts " +
         std::to_string(frameTs_));
  }
}

void Host::callSeq() {
  slot_.begin(Fn::seq, 0, 0, 0, 0, 0, 0);
  const std::uint64_t seq = zor_sck_seq();
  slot_.end();
  const std::uint64_t framesAfter = sim::framesDelivered();
  countCall(Fn::seq, 0);
  const std::string gave = "zor_sck_seq() answered " + std::to_string(seq);
  if (seq < lastLatest_) fail(gave + " after this thread saw frame " + std::to_string(lastLatest_));
  if (seq > framesAfter) {
    fail(gave + " while " + std::to_string(framesAfter) + " frames were delivered");
  }
  lastLatest_ = std::max(lastLatest_, seq);
}

}  // namespace zorsck::stress
