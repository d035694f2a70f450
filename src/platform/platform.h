// The operating-system services the capture core needs, one for one, and
// nothing more. One platform layer is linked into a build: `apple/` over
// ScreenCaptureKit, CoreMedia, CoreVideo, CoreGraphics and Dispatch; on
// Linux, `linux/`, which picks at the first call between `x11/` over XCB,
// MIT-SHM and RandR (one display per monitor, one point per pixel) and
// `wayland/` over the ScreenCast portal and PipeWire; or `sim/`, a simulated
// display server for tests. No policy lives here:
// choosing displays, building configurations, logging and state changes all
// stay in the core so the backends cannot drift apart in behaviour.
//
// Threading rules every backend keeps:
//  - completions (content query, capture start, configuration update, capture
//    stop) are called exactly once, later, and never on the calling thread;
//  - sample buffers reach a StreamOutput as tasks of the serial queue given
//    to addStreamOutput: on that queue, or in place on the thread that
//    received the frame, one at a time and never beside another of its
//    tasks; stop notices come on a platform thread;
//  - runAsync tasks run on a shared executor, never on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorsck::platform {

// ---- errors -----------------------------------------------------------------

// What the core must know of an error beyond its text.
enum class ErrorKind {
  other,
  declined,     // the user has not allowed this process to record the screen
  userStopped,  // the user stopped the capture from the system's controls
};

// A platform error; completions receive a pointer to one, or null on success.
struct Error {
  std::string description;  // the error's standard textual description
  ErrorKind kind = ErrorKind::other;
};

using Completion = std::function<void(const Error* error)>;

// ---- media times and clocks ---------------------------------------------------

// A media time laid out like CoreMedia's CMTime.
struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;
  std::uint32_t flags = 0;  // kMediaTimeValid and others
  std::int64_t epoch = 0;
};
inline constexpr std::uint32_t kMediaTimeValid = 1;

// True when the time carries the valid flag; any thread.
inline bool isValid(const MediaTime& t) { return (t.flags & kMediaTimeValid) != 0; }

// A valid media time of value/timescale seconds; any thread.
MediaTime makeMediaTime(std::int64_t value, std::int32_t timescale);

// The time in seconds as a double (NaN for an invalid time); any thread.
double mediaTimeSeconds(const MediaTime& t);

// The host clock's current time; presentation times lie on its time base; any thread.
MediaTime hostClockNow();

// The host clock's current time in seconds; any thread.
inline double hostSeconds() { return mediaTimeSeconds(hostClockNow()); }

// Wall-clock seconds since 1970-01-01 00:00:00 UTC; any thread.
double wallClockNow();

// ---- system version -----------------------------------------------------------

// True when the running system is at least macOS major.minor.patch (the
// simulated platform answers as configured; the X11 backend answers whether an
// X display with MIT-SHM is connected); cheap enough for every call.
bool osAtLeast(int major, int minor, int patch);

// ---- pixel buffers ------------------------------------------------------------

// One reference to a platform pixel buffer of 32-bit BGRA pixels, rows top to
// bottom. Copying takes another reference, destruction gives one up; holding a
// reference keeps the pixel memory valid while other threads drop theirs.
// Taking and giving up references never allocates.
class Frame {
 public:
  Frame() = default;
  // Takes a new reference to the backend's buffer `native` (null gives an empty Frame).
  explicit Frame(void* native);
  Frame(const Frame& other);
  Frame(Frame&& other) noexcept : native_(other.native_) { other.native_ = nullptr; }
  Frame& operator=(const Frame& other);
  Frame& operator=(Frame&& other) noexcept;
  ~Frame();

  explicit operator bool() const { return native_ != nullptr; }
  void* native() const { return native_; }

  // Locks the pixel memory for reading; pair every call with unlockReadOnly.
  bool lockReadOnly() const;
  void unlockReadOnly() const;
  // Start of the pixel memory while locked, or null when it is not accessible.
  const std::uint8_t* baseAddress() const;
  std::size_t bytesPerRow() const;  // at least width() * 4
  std::size_t width() const;
  std::size_t height() const;
  // True when the fourth byte of each pixel carries nothing (an X screen
  // without alpha); copies then write 255 there, so frames need no pass of
  // their own.
  bool alphaUndefined() const;

 private:
  void* native_ = nullptr;
};

// ---- sample buffers -------------------------------------------------------------

// What the platform says of a screen sample's frame beside its pixels.
struct FrameInfo {
  bool showsScreen = true;  // false: the display went blank, updates are suspended, the stream stopped
  double scaleFactor = 0.0;  // the display's pixels per point when the frame was made; 0: not given
  double contentWidth = 0.0;  // size of the content within the frame, in points; 0: not given
  double contentHeight = 0.0;
};

// A delivered media sample, valid only for the duration of the callback.
class SampleBuffer {
 public:
  explicit SampleBuffer(const void* native) : native_(native) {}
  // The frame's pixel buffer, or an empty Frame when the sample carries none.
  Frame imageBuffer() const;
  MediaTime presentationTimeStamp() const;
  FrameInfo frameInfo() const;
  const void* native() const { return native_; }

 private:
  const void* native_;
};

// ---- permission -------------------------------------------------------------------

// True when the user allows this process to record the screen, asked without
// ever prompting (true where the system asks no such thing). May take a
// moment, so never called on a host's call.
bool screenCaptureAllowed();

// ---- display queries (CoreGraphics) ---------------------------------------------

using DisplayId = std::uint32_t;

// The readings of a display's current mode; the mode itself is released by the backend.
struct DisplayModeInfo {
  std::size_t width = 0;        // in points
  std::size_t pixelWidth = 0;   // in pixels
  std::size_t pixelHeight = 0;  // in pixels
  double refreshRate = 0.0;     // hertz; may be 0 or not finite
};

// False while the displays are not known yet (a screen-cast session still
// waits for the user's answer): no display can be measured and no start
// made; asking may begin what makes them known. Never waits.
bool displaysKnown();
// Has the platform list the displays again in the background when nothing
// keeps its view of them current (at most once a second); true while that
// listing runs, so that an answer drawn from the old view can wait for it.
// Never waits.
bool relistDisplays();
DisplayId mainDisplayId();
// Reads the display's current mode into `info`; false when there is no mode.
bool copyDisplayMode(DisplayId display, DisplayModeInfo* info);
std::size_t displayPixelsWide(DisplayId display);
std::size_t displayPixelsHigh(DisplayId display);
// The display's top-left corner on the desktop (points on Apple, pixels
// elsewhere) into *x, *y; false when the platform does not know its place
// (nothing is written then). Any thread, never waits.
bool displayPlace(DisplayId display, std::int32_t* x, std::int32_t* y);

// ---- the backend ------------------------------------------------------------------

// The backend's name: "macos", "x11", "wayland", "windows" or "sim"; "" while
// the Linux library has not chosen one. A static string; any thread, never waits.
const char* backendName();

// ---- queues, timers and tasks (Dispatch) ------------------------------------------

class SerialQueue;  // backend-defined
using SerialQueueRef = std::shared_ptr<SerialQueue>;
// A serial queue with the given label, no attributes, default quality of service.
SerialQueueRef makeSerialQueue(const char* label);

class TimerSource;  // backend-defined; lives until the last reference goes
using TimerSourceRef = std::shared_ptr<TimerSource>;
// A suspended repeating timer source whose handler runs on `queue`.
TimerSourceRef makeTimerSource(SerialQueue& queue);
// First tick `startSeconds` from now, then every `intervalSeconds`, with `leewayNs` slack.
void scheduleTimer(TimerSource& timer, double startSeconds, double intervalSeconds,
                   std::uint64_t leewayNs);
void setTimerHandler(TimerSource& timer, std::function<void()> handler);
void resumeTimer(TimerSource& timer);

// Runs `task` later on the shared executor of asynchronous work; false when
// no thread could be started to run it, and the task was dropped.
bool runAsync(std::function<void()> task);

// ---- screen capture (ScreenCaptureKit) --------------------------------------------

class Display;  // backend-defined (an SCDisplay; on Linux, linux/backend.h)
using DisplayRef = std::shared_ptr<Display>;
DisplayId displayId(const Display& display);

struct ShareableContent {
  std::vector<DisplayRef> displays;  // in the platform's order
};
using ShareableContentRef = std::shared_ptr<const ShareableContent>;

// Asks for the shareable content; the completion gets the content or an error.
void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                         std::function<void(ShareableContentRef content, const Error* error)> completion);

// Withdraws the content queries still waiting for the user's answer to a
// permission dialog, which goes: they complete with an error. Returns at once.
void withdrawContentQueries();

class ContentFilter;  // backend-defined (an SCContentFilter)
using ContentFilterRef = std::shared_ptr<ContentFilter>;
// A filter that shows the whole display, excluding no window.
ContentFilterRef makeContentFilter(const Display& display);

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

inline constexpr std::uint32_t kPixelFormatBGRA = 1111970369;  // 'BGRA'

// A stream configuration; a backend applies the settings in field order.
struct StreamConfiguration {
  Rect sourceRect;                 // in display points
  std::size_t width = 0;           // frame width in pixels
  std::size_t height = 0;          // frame height in pixels
  std::uint32_t pixelFormat = 0;
  bool showsCursor = true;
  MediaTime minimumFrameInterval;
  int queueDepth = 0;
};

enum class OutputType : int { screen = 0, audio = 1 };

class Stream;  // backend-defined (an SCStream)
using StreamRef = std::shared_ptr<Stream>;

// The receiving end of a stream: its output and its delegate. `stream` names the
// stream that calls; it is for identity only and may no longer be held by anyone.
class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  // One delivered sample, as a task of the sample-handler queue, one at a time.
  virtual void didOutputSampleBuffer(const Stream* stream, const SampleBuffer& sample,
                                     OutputType type) = 0;
  // The platform ended the stream with `error`, on a thread of its choosing.
  virtual void didStopWithError(const Stream* stream, const Error& error) = 0;
  // Nothing was drawn in the stream's rectangle between the last delivered
  // sample and `through` (host clock): the answer to requestFrame when the
  // screen is still; as a task of the sample-handler queue.
  virtual void didSeeNoChange(const Stream* /*stream*/, const MediaTime& /*through*/) {}
};
using StreamOutputRef = std::shared_ptr<StreamOutput>;

// A stream of `filter` with `configuration`, not yet running, with `delegate`.
StreamRef makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                     StreamOutputRef delegate);
// Registers `output` for samples of `type` delivered on `queue`; on failure
// returns false and fills `error`.
bool addStreamOutput(Stream& stream, StreamOutputRef output, OutputType type,
                     SerialQueue& queue, Error* error);
void startCapture(Stream& stream, Completion completion);
// Returns at once; the completion follows on a platform thread.
void updateConfiguration(Stream& stream, const StreamConfiguration& configuration,
                         Completion completion);
void stopCapture(Stream& stream, Completion completion);
// Asks the running stream for a sample that shows the display as it is now:
// one captured at once, or didSeeNoChange when nothing was drawn since the
// last. Returns at once; false when the platform cannot capture on request
// and samples come at its own pace.
bool requestFrame(Stream& stream);

}  // namespace zorsck::platform
