#include "call_interpreter.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/sim/sim_control.h"
#include "state/capture_state.h"
#include "zorsck.h"

namespace zorsck::fuzz {

// Reads the bytes of one input as the layout in the header says; past the end
// every byte reads as 0. Calling thread.
struct Reader {
  const std::uint8_t *next, *end;

  std::uint8_t byte() { return next < end ? *next++ : 0; }
  // The next `bytes` bytes as a little-endian value.
  std::uint64_t bits(int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t{byte()} << (8 * i);
    return v;
  }
  std::uint32_t display() {
    const std::uint8_t pick = byte() % 4;
    return pick < 3 ? pick : static_cast<std::uint32_t>(bits(4));
  }
  std::int32_t coordinate() {
    const int k = byte() % 8;
    if (k < 4 || k == 7) return static_cast<std::int32_t>(k < 4 ? bits(2) % 1100 : bits(4));
    const std::int32_t b = byte();
    return k == 4 ? -1 - b : k == 5 ? INT32_MAX - b : INT32_MIN + b;
  }
  std::uint32_t extent() {
    const int k = byte() % 8;
    const std::uint64_t v = k == 4 ? bits(2) % 1100 : k == 7 ? bits(4) : k == 5 ? 0 : byte();
    return static_cast<std::uint32_t>(k == 6 ? UINT32_MAX - v : v);
  }
};

namespace {

using ull = unsigned long long;
constexpr std::uint8_t kSentinel = 0xA5;
constexpr std::size_t kTail = 64;  // sentinel bytes past what a rectangle may fill
constexpr std::uint64_t kUnset = 0x5A5A5A5A5A5A5A5Aull;
constexpr std::uint32_t kMaxW = 1365, kMaxH = 767;  // the largest display of any layout
// clang-format off
enum Op : std::uint8_t { kEnsure, kCrop, kCropSeq, kSeq, kStop, kAdvance, kDeliver, kFault,
                         kPlatformStop, kHold, kRelease, kSettle, kIdleJump, kLayout, kOps };
// clang-format on

// Display 1 always has two pixels per point, display 2 one; the first listed is the main one.
const std::vector<sim::DisplaySpec> kLayouts[] = {
    {{1, 640, 480, 320, 240, 60.0, true}, {2, 480, 360, 480, 360, 30.0, true}},
    {{1, 800, 600, 400, 300, 60.0, true}, {2, 1365, 767, 1365, 767, 60.0, true}},
    {{2, 1365, 767, 1365, 767, 60.0, true}, {1, 640, 480, 320, 240, 120.0, true}}};

// Standard error as it was at start-up: libFuzzer may close the real one.
const int gReport = ::dup(STDERR_FILENO);
std::atomic<bool> gNullBase{false};  // a frame without memory may have come
std::atomic<std::int64_t> gNextTurnNs{0};
std::atomic<std::uint64_t> gServed{0};  // crops and crop_seqs that answered 0

// True when the bytes from `from` on (at least one) all hold the sentinel: the first does
// and each equals the next (one memcmp, which the sanitizers check quickly); any thread.
bool untouched(const std::vector<std::uint8_t>& b, std::size_t from) {
  return b[from] == kSentinel && std::memcmp(&b[from], &b[from + 1], b.size() - from - 1) == 0;
}

// Fails when frame locks do not pair up or pixels were read without one; any thread.
void checkLocks() {
  if (const int n = sim::unbalancedFrameLocks()) fail("%d unbalanced frame locks", n);
  if (const int n = sim::unlockedPixelReads()) fail("%d reads of frame memory without its lock", n);
}

// True when the caller may stop, fault or reshape the displays now: always for the
// only caller, else one turn every 50 to 250 ms over all threads, so that most
// crops find a frame; any thread.
bool turn(bool manual) {
  const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::int64_t next = gNextTurnNs;
  return manual || (now >= next && gNextTurnNs.compare_exchange_strong(
                                       next, now + 50'000'000 + now % 200'000'000));
}

}  // namespace

void fail(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  ::dprintf(gReport, "zorsck: broken promise: %s\n", message);  // one write: never interleaved
  std::abort();
}

void setLayout(int index, double hz) {
  std::vector<sim::DisplaySpec> layout = kLayouts[index % 3];
  for (sim::DisplaySpec& d : layout) d.refreshRate = hz > 0 ? hz : d.refreshRate;
  sim::setDisplays(layout);
}

void checkQuiet() {
  for (int s = 0; s < 4; ++s) sim::holdCompletions(static_cast<sim::Step>(s), false);
  sim::clearFaults();
  sim::settle();  // a start under way would publish its stream after the stop
  zor_sck_stop();
  sim::settle();
  if (const int n = sim::runningStreamCount()) fail("%d streams still run after the stop", n);
  if (const int n = sim::frameLocksHeld()) fail("%d frame locks held with no call running", n);
  // Every frame delivered was numbered, or dropped as one of a stream not published.
  const std::uint64_t strays = captureState().strayFrames.load();
  if (zor_sck_seq() + strays != sim::framesDelivered()) fail("zor_sck_seq() is not the frame count");
  checkLocks();
  gNullBase = false;
}

std::uint64_t servedCount() { return gServed; }

void Interpreter::run(const std::uint8_t* data, std::size_t size) {
  Reader in{data, data + size};
  for (int i = 0; i < 256 && in.next < in.end; ++i) step(in);
  operation = -1;
}

void Interpreter::step(Reader& in) {
  const int op = in.byte() % kOps;
  operation = op;
  const std::uint8_t b = op >= kAdvance && op != kPlatformStop && op != kSettle ? in.byte() : 0;
  switch (op) {
    case kEnsure: {
      std::uint32_t id = in.display();
      const auto fps = static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte()));
      if (id != 0 && !turn(manual_)) id = 0;  // another display stops the stream
      if (zor_sck_ensure(id, fps) != ZOR_SCK_OK) fail("zor_sck_ensure(%u, %d) failed", id, fps);
      break;
    }
    case kCrop: case kCropSeq: crop(in, op == kCropSeq); break;
    case kSeq: {  // never back, never ahead of the frames delivered
      const std::uint64_t seq = zor_sck_seq(), floor = std::max(lastLatest_, lastServed_);
      if (seq < floor || seq > sim::framesDelivered()) fail("zor_sck_seq() went back or ahead");
      lastLatest_ = seq;
      break;
    }
    case kAdvance: sim::advance(b < 192 ? b * 0.002 : b < 248 ? (b - 191) * 0.02 : 1.5); break;
    case kDeliver: sim::deliverFrame(static_cast<platform::OutputType>(b % 4 == 3)); break;
    case kRelease: sim::releaseHeld(static_cast<sim::Step>(b % 4), b & 12 ? b >> 2 & 3 : -1); break;
    case kSettle: sim::settle(); break;
    case kIdleJump: sim::setWallClock(platform::wallClockNow() + 5.0 + b * 0.01); break;
    case kFault: {
      const auto fault = static_cast<sim::Fault>(b % 10);
      const int count = 1 + in.byte() % 3;
      if (fault < sim::Fault::noImageBuffer && !turn(manual_)) break;  // a frame's needs no turn
      if (fault == sim::Fault::nullBaseAddress) gNullBase = true;  // before any such frame
      sim::injectFault(fault, count);
      break;
    }
    default:  // platform stop, hold, layout, stop
      if (!turn(manual_)) break;
      if (op == kPlatformStop) sim::stopRunningStreams("the display went away");
      if (op == kHold) sim::holdCompletions(static_cast<sim::Step>(b % 4), (b & 4) != 0);
      if (op == kLayout) setLayout(b, hz_);
      if (op != kStop) break;
      zor_sck_stop();
      // The frame this thread was last served went with the stream (a 0x0 crop copies nothing).
      std::uint8_t px = 0;
      const auto code = zor_sck_crop_seq(0, servedSeq_, 0, 0, 0, 0, &px, nullptr, nullptr);
      if (code != ZOR_SCK_FRAME_GONE) fail("zor_sck_crop_seq answered %d after a stop", code);
  }
  checkLocks();
  ++progress;
  if (!manual_) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void Interpreter::crop(Reader& in, bool sequenced) {
  const char* what = sequenced ? "zor_sck_crop_seq" : "zor_sck_crop";
  std::uint32_t id = in.display();
  if (id != 0 && !turn(manual_)) id = 0;  // as in ensure: each switch lets frames come first
  const std::uint8_t pick = sequenced ? in.byte() % 4 : 0;
  const std::uint64_t asked = pick < 2 ? servedSeq_ + pick : pick == 2 ? zor_sck_seq() : in.bits(8);
  const std::int32_t x = in.coordinate(), y = in.coordinate();
  const std::uint32_t w = in.extent(), h = in.extent();
  const std::uint8_t flags = in.byte();
  const bool fits = w <= kMaxW && h <= kMaxH;
  const std::size_t size = fits ? std::size_t{w} * h * 4 : 0;  // else only the tail
  std::vector<std::uint8_t> buffer(size + kTail, kSentinel);
  std::uint8_t* out = flags % 16 == 0 ? nullptr : buffer.data();
  std::uint64_t ts = kUnset, seq = kUnset;
  std::uint64_t* tsOut = flags & 0x10 ? nullptr : &ts;
  std::uint64_t* seqOut = flags & 0x20 ? nullptr : &seq;
  const std::int32_t code = sequenced ? zor_sck_crop_seq(id, asked, x, y, w, h, out, tsOut, seqOut)
                                      : zor_sck_crop(id, x, y, w, h, out, tsOut, seqOut);
  const auto nowMs = static_cast<std::uint64_t>(platform::wallClockNow() * 1000.0);
  if (code < -1 || code > 3 || code == (sequenced ? 1 : 3)) fail("%s answered %d", what, code);
  // Only a null out is an error, but a frame without memory may be one too.
  if ((out == nullptr) != (code == ZOR_SCK_ERROR) && (out == nullptr || !gNullBase))
    fail("%s answered %d with out %s", what, code, out == nullptr ? "null" : "given");
  // Nothing is written on an answer other than 0, and nothing past w * h * 4 bytes on 0.
  const bool ok = code == ZOR_SCK_OK;
  if (!untouched(buffer, ok ? size : 0) || (!ok && (ts != kUnset || seq != kUnset)))
    fail("%s answered %d and wrote where it should not", what, code);
  if (!ok) return;
  ++gServed;
  if (!fits) fail("%s copied %ux%u, larger than any display", what, w, h);
  if (seqOut && (seq == 0 || seq > sim::framesDelivered() || (sequenced && seq != asked)))
    fail("%s of frame %llu gave seq %llu", what, ull{asked}, ull{seq});
  // The frame copied; 0 when unknown (sequence number not asked for, other threads calling).
  const std::uint64_t frame = sequenced ? asked : seqOut ? seq : manual_ ? zor_sck_seq() : 0;
  const std::uint64_t floor = sequenced ? lastServed_ : std::max(lastServed_, lastLatest_);
  if (frame != 0 && frame < floor)
    fail("%s copied frame %llu after frame %llu", what, ull{frame}, ull{floor});
  if (manual_ && !sequenced && frame != zor_sck_seq()) fail("zor_sck_crop copied an older frame");
  // Timestamps are never ahead of the wall clock, and a frame keeps its own.
  const bool sameFrame = sequenced && asked == servedSeq_ && servedTs_ != 0;
  if (tsOut != nullptr && (ts > nowMs || (sameFrame && ts != servedTs_)))
    fail("%s gave ts %llu at %llu ms, before %llu", what, ull{ts}, ull{nowMs}, ull{servedTs_});
  // Frames of streams that were not published take no number, so the alpha byte
  // names the display's frame for the formula; a frame cut again shows it again.
  const std::uint8_t alpha = size > 0 ? buffer[3] : 0;
  if (size > 0 && sequenced && asked == servedSeq_ && servedAlpha_ >= 0 && alpha != servedAlpha_)
    fail("%s of frame %llu shows display frame %d, not %d", what, ull{asked}, alpha, servedAlpha_);
  for (std::uint32_t i = 0; i < w * h; ++i) {
    const auto want = sim::expectedPixel(std::int64_t{x} + i % w, std::int64_t{y} + i / w, alpha);
    if (std::memcmp(&buffer[std::size_t{i} * 4], want.data(), 4) != 0)
      fail("%s (%d,%d %ux%u) of frame %llu: pixel %u differs", what, x, y, w, h, ull{frame}, i);
  }
  lastServed_ = std::max(lastServed_, frame);
  if (sequenced) return;
  lastLatest_ = std::max(lastLatest_, frame);
  servedSeq_ = frame;
  servedTs_ = tsOut != nullptr ? ts : 0;
  servedAlpha_ = size > 0 ? alpha : -1;
}

}  // namespace zorsck::fuzz
