#include "fuzz_calls.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_control.h"
#include "zorsck.h"

namespace zorsck::fuzz {
namespace {

constexpr std::uint8_t kSentinel = 0xA5;
constexpr std::size_t kTail = 64;  // sentinel bytes past what a rectangle may fill
constexpr std::uint64_t kUnset = 0x5A5A5A5A5A5A5A5Aull;

int gReportFd = STDERR_FILENO;
std::uint64_t gHighestSeq = 0;  // highest seq a crop answering 0 gave, whole run
std::uint64_t gLastSeq = 0;     // last zor_sck_seq answer, whole run

// One crop's destination and result slots, all sentinel before the call.
struct Call {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t w = 0;
  std::uint32_t h = 0;
  std::vector<std::uint8_t> buffer;
  std::size_t size = 0;  // bytes the rectangle fills; 0 when it cannot fit any frame
  bool fits = false;
  bool nullOut = false;
  bool nullTs = false;
  bool nullSeq = false;
  std::uint64_t ts = kUnset;
  std::uint64_t seq = kUnset;

  // The pointers handed to the call, null where the input asked; fuzz thread.
  std::uint8_t* out() { return nullOut ? nullptr : buffer.data(); }
  // As out(), for the timestamp; fuzz thread.
  std::uint64_t* tsOut() { return nullTs ? nullptr : &ts; }
  // As out(), for the sequence number; fuzz thread.
  std::uint64_t* seqOut() { return nullSeq ? nullptr : &seq; }
};

// Reads a rectangle and the pointer choices, and sizes the buffer for them; fuzz thread.
Call prepare(Input& in) {
  Call call;
  call.x = coordinate(in);
  call.y = coordinate(in);
  call.w = extent(in);
  call.h = extent(in);
  const std::uint8_t flags = in.byte();
  call.nullOut = flags % 16 == 0;
  call.nullTs = (flags & 0x10) != 0;
  call.nullSeq = (flags & 0x20) != 0;
  call.fits = call.w <= kMaxFrameWidth && call.h <= kMaxFrameHeight;
  // A rectangle no frame can hold gets only the sentinel tail: nothing may land in it.
  call.size = call.fits ? std::size_t{call.w} * call.h * 4 : 0;
  call.buffer.assign(call.size + kTail, kSentinel);
  return call;
}

// Fails unless nothing was written to the buffer or the result slots; fuzz thread.
void expectUntouched(const Call& call, const char* what, std::int32_t code) {
  for (std::size_t i = 0; i < call.buffer.size(); ++i) {
    if (call.buffer[i] != kSentinel) {
      fail("%s answered %d but wrote byte %zu of out (%d,%d %ux%u)", what, code, i, call.x,
           call.y, call.w, call.h);
    }
  }
  if (call.ts != kUnset || call.seq != kUnset) {
    fail("%s answered %d but wrote outTs or outSeq", what, code);
  }
}

// Fails unless the buffer holds the rectangle of frame n and nothing past it; fuzz thread.
void expectFrame(const Call& call, std::uint64_t n, const char* what) {
  if (!call.fits) fail("%s answered 0 for %ux%u, larger than any frame", what, call.w, call.h);
  const std::size_t rowBytes = std::size_t{call.w} * 4;
  std::vector<std::uint8_t> want(rowBytes);
  for (std::uint32_t row = 0; rowBytes > 0 && row < call.h; ++row) {
    const std::int64_t y = std::int64_t{call.y} + row;
    for (std::uint32_t col = 0; col < call.w; ++col) {
      const auto pixel = sim::expectedPixel(std::int64_t{call.x} + col, y, n);
      std::memcpy(&want[std::size_t{col} * 4], pixel.data(), 4);
    }
    const std::uint8_t* got = call.buffer.data() + row * rowBytes;
    if (std::memcmp(got, want.data(), rowBytes) == 0) continue;
    std::uint32_t col = 0;
    while (std::memcmp(got + col * 4, &want[std::size_t{col} * 4], 4) == 0) ++col;
    const std::uint8_t* p = got + col * 4;
    const std::uint8_t* q = &want[std::size_t{col} * 4];
    fail("%s (%d,%d %ux%u) seq %llu: pixel (%u,%u) is BGRA %02x%02x%02x%02x, frame %llu has "
         "%02x%02x%02x%02x",
         what, call.x, call.y, call.w, call.h, static_cast<unsigned long long>(n), col, row, p[0],
         p[1], p[2], p[3], static_cast<unsigned long long>(n), q[0], q[1], q[2], q[3]);
  }
  for (std::size_t i = call.size; i < call.buffer.size(); ++i) {
    if (call.buffer[i] != kSentinel) fail("%s wrote past w * h * 4 bytes (byte %zu)", what, i);
  }
}

// Fails when a timestamp lies ahead of the manual wall clock; fuzz thread.
void expectPastTimestamp(std::uint64_t ts, const char* what) {
  const auto nowMs = static_cast<std::uint64_t>(platform::wallClockNow() * 1000.0);
  if (ts > nowMs) {
    fail("%s gave timestamp %llu ms, after the wall clock's %llu ms", what,
         static_cast<unsigned long long>(ts), static_cast<unsigned long long>(nowMs));
  }
}

// Fails when a served sequence number goes back, then records it; fuzz thread.
void expectForwardSeq(std::uint64_t seq, const char* what) {
  if (seq < gHighestSeq) {
    fail("%s served seq %llu after seq %llu had been served", what,
         static_cast<unsigned long long>(seq), static_cast<unsigned long long>(gHighestSeq));
  }
  gHighestSeq = seq;
}

// Checks the pointer and status rules that every crop shares; fuzz thread.
void expectCommon(const Call& call, std::int32_t code, const InputTrack& track, const char* what) {
  if (call.nullOut && code != ZOR_SCK_ERROR) fail("%s with null out answered %d", what, code);
  if (code != ZOR_SCK_OK) expectUntouched(call, what, code);
  if (code == ZOR_SCK_ERROR && !call.nullOut && !track.nullBaseInjected) {
    fail("%s answered -1 with a valid out and no inaccessible frame", what);
  }
}

}  // namespace

void fail(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::string_view prefix = "zorsck_fuzz: invariant broken: ";
  (void)!::write(gReportFd, prefix.data(), prefix.size());
  (void)!::write(gReportFd, message, std::strlen(message));
  (void)!::write(gReportFd, "\n", 1);
  std::abort();
}

void saveReportFd() {
  const int fd = ::dup(STDERR_FILENO);
  if (fd >= 0) gReportFd = fd;
}

void ensureCall(Input& in) {
  const std::uint32_t display = displayId(in);
  const auto fps = static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte()));
  const std::int32_t code = zor_sck_ensure(display, fps);
  if (code != ZOR_SCK_OK) fail("zor_sck_ensure(%u, %d) answered %d", display, fps, code);
}

void cropCall(Input& in, InputTrack& track) {
  const char* what = "zor_sck_crop";
  const std::uint32_t display = displayId(in);
  Call call = prepare(in);
  const std::int32_t code =
      zor_sck_crop(display, call.x, call.y, call.w, call.h, call.out(), call.tsOut(), call.seqOut());
  if (code != ZOR_SCK_OK && code != ZOR_SCK_NO_FRAME_YET && code != ZOR_SCK_NOT_SERVABLE &&
      code != ZOR_SCK_ERROR) {
    fail("%s answered %d", what, code);
  }
  expectCommon(call, code, track, what);
  if (code == ZOR_SCK_ERROR && !call.nullOut) {
    // The inaccessible frame still counts as served.
    track.served = true;
    track.servedTsKnown = false;
    track.servedSeq = zor_sck_seq();
  }
  if (code != ZOR_SCK_OK) return;
  const std::uint64_t latest = zor_sck_seq();
  if (!call.nullSeq && call.seq != latest) {
    fail("%s served seq %llu while the latest frame is %llu", what,
         static_cast<unsigned long long>(call.seq), static_cast<unsigned long long>(latest));
  }
  if (!call.nullTs) expectPastTimestamp(call.ts, what);
  expectForwardSeq(latest, what);
  expectFrame(call, latest, what);
  track.served = true;
  track.servedSeq = latest;
  track.servedTsKnown = !call.nullTs;
  track.servedTs = call.ts;
}

void cropSeqCall(Input& in, InputTrack& track) {
  const char* what = "zor_sck_crop_seq";
  const std::uint32_t display = displayId(in);
  std::uint64_t seq = 0;
  switch (in.byte() % 4) {
    case 0: seq = track.servedSeq; break;
    case 1: seq = track.servedSeq + 1; break;
    case 2: seq = zor_sck_seq(); break;
    default: seq = in.bits(8); break;
  }
  Call call = prepare(in);
  const std::int32_t code = zor_sck_crop_seq(display, seq, call.x, call.y, call.w, call.h,
                                             call.out(), call.tsOut(), call.seqOut());
  if (code != ZOR_SCK_OK && code != ZOR_SCK_NOT_SERVABLE && code != ZOR_SCK_FRAME_GONE &&
      code != ZOR_SCK_ERROR) {
    fail("%s answered %d", what, code);
  }
  expectCommon(call, code, track, what);
  if (code != ZOR_SCK_OK) return;
  if (!track.served || seq != track.servedSeq) {
    fail("%s answered 0 for seq %llu, which is not the served frame", what,
         static_cast<unsigned long long>(seq));
  }
  if (!call.nullSeq && call.seq != seq) {
    fail("%s for seq %llu gave seq %llu", what, static_cast<unsigned long long>(seq),
         static_cast<unsigned long long>(call.seq));
  }
  if (!call.nullTs) {
    expectPastTimestamp(call.ts, what);
    if (track.servedTsKnown && call.ts != track.servedTs) {
      fail("%s gave timestamp %llu, the crop that served seq %llu gave %llu", what,
           static_cast<unsigned long long>(call.ts), static_cast<unsigned long long>(seq),
           static_cast<unsigned long long>(track.servedTs));
    }
  }
  expectForwardSeq(seq, what);
  expectFrame(call, seq, what);
}

void seqCall() {
  const std::uint64_t seq = zor_sck_seq();
  if (seq < gLastSeq || seq < gHighestSeq) {
    fail("zor_sck_seq answered %llu after %llu (highest served %llu)",
         static_cast<unsigned long long>(seq), static_cast<unsigned long long>(gLastSeq),
         static_cast<unsigned long long>(gHighestSeq));
  }
  gLastSeq = seq;
}

void checkBaseline() {
  for (int step = 0; step < 4; ++step) {
    if (sim::heldCount(static_cast<sim::Step>(step)) != 0) fail("completions still held at the baseline");
  }
  if (const int running = sim::runningStreamCount(); running != 0) {
    fail("%d streams still run after stop and settle", running);
  }
  if (const int held = sim::frameLocksHeld(); held != 0) {
    fail("%d frame locks still taken after stop and settle", held);
  }
  const std::uint64_t seq = zor_sck_seq();
  if (seq != sim::framesDelivered()) {
    fail("zor_sck_seq is %llu but %llu frames were delivered", static_cast<unsigned long long>(seq),
         static_cast<unsigned long long>(sim::framesDelivered()));
  }
  seqCall();
  checkStep();
}

void checkStep() {
  if (const int unbalanced = sim::unbalancedFrameLocks(); unbalanced != 0) {
    fail("%d unbalanced frame locks", unbalanced);
  }
  if (const int reads = sim::unlockedPixelReads(); reads != 0) {
    fail("%d reads of frame memory without its lock", reads);
  }
}

}  // namespace zorsck::fuzz
