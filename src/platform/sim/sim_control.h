// Control and inspection of the simulated display server, for tests, benches
// and fuzzers only. None of this is exported from the shared library.
//
// Defaults: one display, id 1, 1920x1080 pixels, 1920x1080 points, 60 Hz, at 0,0;
// real wall and host clocks; macOS 14.0; no faults.
//
// Pixel formula: for display pixel (X, Y) in the n-th frame with an image
// buffer that the simulated platform has delivered in this process (first such
// frame n = 1), B = X mod 256, G = Y mod 256,
// R = (X div 256) mod 16 + 16 * ((Y div 256) mod 16), A = n mod 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zorsck::sim {

// ---- displays -------------------------------------------------------------------

struct DisplaySpec {
  platform::DisplayId id = 1;
  std::size_t pixelWidth = 1920;
  std::size_t pixelHeight = 1080;
  std::size_t pointWidth = 1920;   // pixelWidth / pointWidth is the scale
  std::size_t pointHeight = 1080;
  double refreshRate = 60.0;       // any value, 0 and non-finite included
  bool hasMode = true;             // false: copyDisplayMode finds no mode
  // Top-left corner on the desktop in pixels; unset: side by side in the
  // order listed (x the pixel widths of the displays before it, y 0).
  std::optional<std::array<std::int32_t, 2>> place = std::nullopt;
  bool placeKnown = true;          // false: displayPlace finds no place
};

// Replaces the displays the platform lists, in order; the first is the main
// display unless setMainDisplay names another.
void setDisplays(const std::vector<DisplaySpec>& displays);
void setMainDisplay(platform::DisplayId id);

// The system version that osAtLeast compares with.
void setOsVersion(int major, int minor, int patch);

// ---- clocks ---------------------------------------------------------------------

// Switches both clocks to manual time, starting at the given readings. From then
// on timers and frame deliveries fire only as advance() moves time forward.
void useManualClock(double wallStart = 1'800'000'000.0, double hostStart = 1000.0);
// Moves both manual clocks forward by `seconds`. Every timer tick and frame
// delivery that falls due is run in time order, each to completion with the
// clocks reading its due time; then settle(). Ties run timers first, then
// streams, each in the order they were made or started. On the real clock it
// only settles.
void advance(double seconds);
// Sets the manual wall clock alone (forward or back); fires nothing.
void setWallClock(double seconds);

// Waits until every queue, task and completion of the simulated platform has
// run, except completions that are held (see holdCompletions). On the real
// clock it does not wait for the frames and timer ticks that fall due on their
// own, only for work posted otherwise. Test thread only: on a platform thread
// it returns at once.
void settle();

// ---- frames ---------------------------------------------------------------------

// Delivers one sample of `type` now from every running stream, on its queue, and
// waits for the delivery to finish (settles). Streams take a screen output
// only, so an audio sample goes nowhere. Screen samples carry a frame unless a
// fault says otherwise, or unless the library holds every buffer of the
// stream's pool (queueDepth of them): then the frame is dropped, as the real
// platform drops frames while its client holds all surfaces.
void deliverFrame(platform::OutputType type = platform::OutputType::screen);

// Number of frames with an image buffer delivered so far (the n of the formula).
std::uint64_t framesDelivered();

// Pixel buffers ever allocated; a stream allocates at most its queue depth per
// frame size, never one per frame.
std::uint64_t pixelBuffersAllocated();
// lockReadOnly calls not yet matched by unlockReadOnly, over all buffers.
int frameLocksHeld();
// Unlocks with no matching lock, plus locks found still taken when a buffer is
// reused or freed; 0 when the library pairs its calls.
int unbalancedFrameLocks();
// baseAddress() calls on a buffer nobody had locked.
int unlockedPixelReads();

// The formula's pixel (B, G, R, A) for display pixel (x, y) of frame n.
inline std::array<std::uint8_t, 4> expectedPixel(std::int64_t x, std::int64_t y, std::uint64_t n) {
  return {static_cast<std::uint8_t>(x & 255), static_cast<std::uint8_t>(y & 255),
          static_cast<std::uint8_t>(((x >> 8) & 15) + 16 * ((y >> 8) & 15)),
          static_cast<std::uint8_t>(n & 255)};
}

// How a running stream answers the library's requests for a frame.
enum class FrameRequests {
  unanswered,  // it cannot capture on request: frames come at its pace only (the default)
  capture,     // it delivers a frame at once, as after a change of the screen
  unchanged,   // it says that nothing changed since its last frame
  pending,     // it takes requests but has not answered yet (a reply still on its way)
};
void answerFrameRequests(FrameRequests how);
// Requests for a frame the library made so far.
int frameRequests();
// While still, running streams deliver no frames at their pace, as a display
// where nothing is drawn sends none; deliverFrame and requests still bring frames.
void setStill(bool still);

// ---- faults ---------------------------------------------------------------------

enum class Fault {
  contentQueryError,         // the content query completes with an error
  emptyDisplayList,          // the content lists no display
  addOutputError,            // output registration reports false with an error
  startCaptureError,         // the capture start completes with an error
  updateError,               // a configuration update completes with an error
  stopError,                 // a capture stop completes with an error
  noImageBuffer,             // a screen sample without an image buffer
  invalidPresentationTime,   // a sample whose presentation time is not valid
  futurePresentationTime,    // a sample presented 1 s after the host clock's reading
  nullBaseAddress,           // a frame whose base address is null
  contentQueryDeclined,      // the content query fails: the user has not allowed capture
  frameNotShowingScreen,     // a screen sample marked as not showing the screen (display blank)
  stoppedAsItStarts,         // the capture starts, but its stop notice comes before the completion
  runsBeforeStartCompletes,  // the capture delivers from the start call on; its completion comes later
  endsAfterStart,            // the capture starts, then the platform ends it before its first frame
  threadStart,               // a thread the library starts (loop, worker, capture) cannot be made
};

// The next `count` occurrences of the step named by `fault` fail that way.
void injectFault(Fault fault, int count = 1);
// Cancels every pending injected fault.
void clearFaults();

// The platform ends every running stream: each stops delivering, then its
// delegate's didStopWithError runs on a platform thread with `description`.
void stopRunningStreams(const std::string& description,
                        platform::ErrorKind kind = platform::ErrorKind::other);

// What screenCaptureAllowed answers (true at first), and how often it was asked.
void setScreenCaptureAllowed(bool allowed);
int screenCaptureChecks();

// ---- held completions -----------------------------------------------------------

enum class Step { contentQuery, startCapture, update, stop };

// While held, completions of `step` wait instead of running; releasing runs them.
void holdCompletions(Step step, bool hold);
// Runs up to `count` held completions of `step` (all when negative), oldest
// first unless `newestFirst`, then settle(); returns how many ran.
int releaseHeld(Step step, int count = -1, bool newestFirst = false);
int heldCount(Step step);

// ---- inspection -----------------------------------------------------------------

struct StreamInfo {
  int index = 0;                         // creation order, from 0
  platform::DisplayId display = 0;       // display of its filter
  platform::StreamConfiguration configuration;  // current (updated) configuration
  std::vector<platform::StreamConfiguration> updates;  // the latest 64 updates asked for
  bool running = false;                  // capture started and not stopped
  int stopRequests = 0;                  // stopCapture calls
  bool alive = false;                    // the library still holds a reference
  std::uint64_t framesDropped = 0;       // frames skipped: every pool buffer was held
  std::string queueLabel;                // label of the screen output's queue
};

// The streams the library holds or the platform runs, then the last 8 that
// ended (the library let go of them), by index.
std::vector<StreamInfo> streams();
int runningStreamCount();
int timerCount();               // timer sources ever made
int contentQueries();           // content queries ever made

}  // namespace zorsck::sim

// ---- benchmark hooks ------------------------------------------------------------

namespace zorsck::sim {

// A screen sample of the running stream over an already painted frame, handed
// straight to the stream's output on the calling thread: the library's own
// cost of taking in a frame, without painting or queueing. For benchmarks
// only, with no other delivery under way (manual clock, nothing advancing).
class Redelivery {
 public:
  // Binds the screen output of the first running stream and `frame`, with a
  // presentation time of the host clock's reading now; empty when none runs.
  explicit Redelivery(const platform::Frame& frame);
  ~Redelivery();
  Redelivery(const Redelivery&) = delete;
  Redelivery& operator=(const Redelivery&) = delete;

  explicit operator bool() const { return output_ != nullptr; }
  // Delivers the frame once more to the output; calling thread.
  void deliver() const;

 private:
  platform::StreamOutputRef output_;
  const platform::Stream* stream_ = nullptr;
  platform::Frame frame_;
  const void* sample_ = nullptr;  // a Sample over frame_, owned
};

}  // namespace zorsck::sim
