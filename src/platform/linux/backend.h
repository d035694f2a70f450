// The Linux library carries two backends, X11 and Wayland, and picks one at
// the first call. The platform's Display, ContentFilter and Stream are the
// small polymorphic types below; each backend derives its own, and the free
// functions of platform.h forward to the chosen Backend. Frames, queues,
// timers, tasks and media times come from common/ and are shared by both.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace zorsck::platform {

// A display as the chosen backend listed it.
class Display {
 public:
  virtual ~Display() = default;
  // The display's identifier; any thread.
  virtual DisplayId id() const = 0;
};

// What a stream shows: one whole display.
class ContentFilter {
 public:
  virtual ~ContentFilter() = default;
};

// A capture stream of the chosen backend.
class Stream {
 public:
  virtual ~Stream() = default;
  // Registers `output` for samples of `type` on `queue`; false with `error` filled on failure; any thread.
  virtual bool addOutput(StreamOutputRef output, OutputType type, SerialQueue& queue,
                         Error* error) = 0;
  // Starts capture; the completion follows on a platform thread; any thread.
  virtual void start(Completion completion) = 0;
  // Applies a new configuration; the completion follows on a platform thread; any thread.
  virtual void update(const StreamConfiguration& configuration, Completion completion) = 0;
  // Ends capture; the completion (if any) follows on a platform thread; any thread.
  virtual void stop(Completion completion) = 0;
  // Asks for a sample at once (platform::requestFrame); false where the
  // backend cannot capture on request; any thread.
  virtual bool requestFrame() { return false; }
};

}  // namespace zorsck::platform

namespace zorsck::glue {

using ContentCompletion =
    std::function<void(platform::ShareableContentRef content, const platform::Error* error)>;

// The entry points that differ between the Linux backends.
class Backend {
 public:
  virtual ~Backend() = default;
  // The backend's name for zorsck_backend ("x11", "wayland"; "" while none is
  // chosen): a static string; any thread, never waits.
  virtual const char* name() const = 0;
  // True while the backend can capture (the platform's availability test); any thread, cheap.
  virtual bool available() = 0;
  // False while the displays are not known yet; may start what makes them known; any thread, never waits.
  virtual bool displaysKnown() { return true; }
  // Lists the displays again in the background when the backend's view may be out of
  // date, at most once a second; true while that listing runs; any thread, never waits.
  virtual bool relistDisplays() { return false; }
  // The main display's identifier, or 0 when none is known; any thread.
  virtual platform::DisplayId mainDisplayId() = 0;
  // Reads `display`'s current mode; false when it has none; any thread.
  virtual bool displayMode(platform::DisplayId display, platform::DisplayModeInfo* info) = 0;
  // Reads `display`'s top-left corner on the desktop; false when the place is
  // not known; any thread, never waits.
  virtual bool displayPlace(platform::DisplayId /*display*/, std::int32_t* /*x*/, std::int32_t* /*y*/) {
    return false;
  }
  // Lists the displays; the completion runs later on a platform thread; any thread.
  virtual void getShareableContent(ContentCompletion completion) = 0;
  // Ends listings that wait for the user's answer (a dialog that asks for
  // permission goes): they complete with an error; any thread, never waits.
  virtual void withdrawContentQueries() {}
  // A filter showing the whole of `display`, one of this backend's; any thread.
  virtual platform::ContentFilterRef makeContentFilter(const platform::Display& display) = 0;
  // A stream of `filter` (one of this backend's), not yet running; any thread.
  virtual platform::StreamRef makeStream(const platform::ContentFilter& filter,
                                         const platform::StreamConfiguration& configuration,
                                         platform::StreamOutputRef delegate) = 0;
};

// The backends this library carries; any thread.
std::unique_ptr<Backend> makeX11Backend();
std::unique_ptr<Backend> makeWaylandBackend();

// The backend the platform functions forward to: the one chosen at the first
// call, or once the desktop portal has answered, for the life of the process;
// until then it answers as a pending one; any thread.
Backend& backend();

// Writes "[zorsck] `line`" to standard error from a worker thread, never
// holding up the caller; any thread.
void logLine(const std::string& line);

}  // namespace zorsck::glue
