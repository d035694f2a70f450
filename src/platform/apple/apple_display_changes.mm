#import "platform/apple/apple_display_changes.h"

#include <CoreGraphics/CoreGraphics.h>
#include <dispatch/dispatch.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/mutex.h"
#import "platform/apple/apple_handles.h"

namespace zorsck::platform {
namespace {

// The changes after which a stream's frames no longer map onto its display.
constexpr CGDisplayChangeSummaryFlags kRemapping =
    kCGDisplaySetModeFlag | kCGDisplayRemoveFlag | kCGDisplayDisabledFlag | kCGDisplayMirrorFlag |
    kCGDisplayUnMirrorFlag | kCGDisplayDesktopShapeChangedFlag;

// How often the watched displays are compared with their measurements.
constexpr std::uint64_t kCompareEveryNs = NSEC_PER_SEC;

// One watched stream. `stream` is held weakly: the watch never keeps a stream
// alive, and a stream's destruction takes its entry out.
struct Watched {
  std::weak_ptr<Stream> stream;
  const Stream* key = nullptr;
  DisplayId display = 0;
  DisplayShape measured;
  bool started = false;
  std::string endedBeforeStart;  // a change seen before the start, told at the start
};

// A stream to end and the line its output hears.
struct Ending {
  std::shared_ptr<Stream> stream;
  std::string why;
};

// The watch: its entries, the displays' latest measurements and the comparing
// timer. Never destroyed, so callbacks at exit find it intact.
struct Watch {
  Mutex lock;
  std::vector<Watched> streams GUARDED_BY(lock);
  std::map<DisplayId, DisplayShape> measured GUARDED_BY(lock);
  dispatch_source_t timer GUARDED_BY(lock) = nil;
  bool comparing GUARDED_BY(lock) = false;  // the timer is resumed
};

// The process's watch; any thread.
Watch& watch() {
  static Watch* const w = new Watch;
  return *w;
}

// Stops `stream` and tells its output why; on a platform thread.
void endStream(const Ending& ending) {
  stopCapture(*ending.stream, [](const Error*) {});
  if (@available(macOS 12.3, *)) [ending.stream->delegateBridge endWithDescription:ending.why];
}

// Takes out the entries `why` gives a line for: a started stream is ended
// (added to `out`, to be ended once the lock is released), one not started
// keeps the line for its start. Entries of streams gone go too. With the
// watch's lock held.
template <typename Why>
void takeOut(Watch& w, Why why, std::vector<Ending>* out) REQUIRES(w.lock) {
  for (auto it = w.streams.begin(); it != w.streams.end();) {
    std::optional<std::string> line = it->stream.expired() ? std::nullopt : why(*it);
    if (!it->stream.expired() && !line) {
      ++it;
    } else if (line && !it->started) {
      if (it->endedBeforeStart.empty()) it->endedBeforeStart = std::move(*line);
      ++it;
    } else {
      // lock() gives an owner that goes into `out`, never released under the lock.
      if (line) {
        if (std::shared_ptr<Stream> stream = it->stream.lock()) out->push_back({std::move(stream), *line});
      }
      it = w.streams.erase(it);
    }
  }
}

// Ends `ended`'s streams on the global queue; any thread.
void endLater(std::shared_ptr<std::vector<Ending>> ended) {
  if (ended->empty()) return;
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
    @autoreleasepool {
      for (const Ending& e : *ended) endStream(e);
    }
  });
}

// CoreGraphics' note of a display change: once the change is done, every
// watched stream of that display ends. On a thread of CoreGraphics' choosing
// (the host's event loop).
void displayChanged(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags, void*) {
  if ((flags & kCGDisplayBeginConfigurationFlag) != 0 || (flags & kRemapping) == 0) return;
  const std::string why = "display " + std::to_string(display) +
                          " was reconfigured (mode, scale, rotation, mirroring or removal)";
  auto ended = std::make_shared<std::vector<Ending>>();  // outlives the lock
  {
    Watch& w = watch();
    MutexLock hold(&w.lock);
    takeOut(w, [&](const Watched& e) {
      return e.display == display ? std::optional<std::string>(why) : std::nullopt;
    }, ended.get());
  }
  endLater(std::move(ended));
}

// Makes the comparing timer, suspended, on a queue of its own; once. With
// the watch's lock held.
void makeTimer(Watch& w) REQUIRES(w.lock) {
  if (w.timer) return;
  dispatch_queue_t queue = dispatch_queue_create("zorsck.display-watch", DISPATCH_QUEUE_SERIAL);
  w.timer = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue);
  dispatch_source_set_timer(w.timer, dispatch_time(DISPATCH_TIME_NOW, kCompareEveryNs), kCompareEveryNs,
                            kCompareEveryNs / 10);
  dispatch_source_set_event_handler(w.timer, ^{
    @autoreleasepool {
      compareWatchedDisplays();
    }
  });
}

// Resumes the comparisons while a stream is watched and suspends them when
// none is. With the watch's lock held.
void compareWhileWatched(Watch& w) REQUIRES(w.lock) {
  const bool wanted = !w.streams.empty();
  if (wanted == w.comparing || !w.timer) return;
  w.comparing = wanted;
  wanted ? dispatch_resume(w.timer) : dispatch_suspend(w.timer);
}

}  // namespace

// Keeps the reading for the next stream of that display; any thread.
void noteMeasured(DisplayId display, const DisplayShape& shape) {
  Watch& w = watch();
  MutexLock hold(&w.lock);
  w.measured[display] = shape;
}

// Adds the stream with the display's latest measurement, or a reading now; any thread.
void endOnDisplayChange(const StreamRef& stream) {
  std::optional<DisplayShape> measured;
  {
    Watch& w = watch();
    MutexLock hold(&w.lock);
    const auto it = w.measured.find(stream->display);
    if (it != w.measured.end()) measured = it->second;
  }
  endOnDisplayChange(stream, measured ? *measured : readDisplayShape(stream->display));
}

// Adds the stream, not started yet, with `measured`; registers the callback
// once, outside the lock (CoreGraphics holds its own while it calls back). Any thread.
void endOnDisplayChange(const StreamRef& stream, const DisplayShape& measured) {
  static const bool registered =
      CGDisplayRegisterReconfigurationCallback(displayChanged, nullptr) == kCGErrorSuccess;
  (void)registered;
  Watch& w = watch();
  MutexLock hold(&w.lock);
  makeTimer(w);
  w.streams.push_back({stream, stream.get(), stream->display, measured, false, {}});
  compareWhileWatched(w);
}

// Marks the stream started, or hands over the change seen before and forgets it; any thread.
std::string changedBeforeStart(const Stream* stream) {
  std::string why;
  Watch& w = watch();
  MutexLock hold(&w.lock);
  for (auto it = w.streams.begin(); it != w.streams.end(); ++it) {
    if (it->key != stream) continue;
    it->started = true;
    why = std::move(it->endedBeforeStart);
    if (!why.empty()) w.streams.erase(it);
    break;
  }
  compareWhileWatched(w);
  return why;
}

// Erases the stream's entry; from the stream's destructor, on the releasing thread.
void stopWatching(const Stream* stream) {
  Watch& w = watch();
  MutexLock hold(&w.lock);
  std::erase_if(w.streams, [stream](const Watched& e) { return e.key == stream; });
  compareWhileWatched(w);
}

// Reads each watched display once, outside the lock, and ends the streams
// whose display no longer reads as measured. On the comparison queue.
void compareWatchedDisplays() {
  Watch& w = watch();
  std::map<DisplayId, DisplayShape> now;
  {
    MutexLock hold(&w.lock);
    for (const Watched& e : w.streams) now[e.display];
  }
  for (auto& [display, shape] : now) shape = readDisplayShape(display);
  auto ended = std::make_shared<std::vector<Ending>>();  // outlives the lock
  {
    MutexLock hold(&w.lock);
    takeOut(w, [&](const Watched& e) -> std::optional<std::string> {
      const auto read = now.find(e.display);
      if (read == now.end()) return std::nullopt;  // watched since the reading
      const std::optional<std::string> change = shapeChange(e.measured, read->second);
      if (!change) return std::nullopt;
      return "display " + std::to_string(e.display) + " changed: " + *change;
    }, ended.get());
    compareWhileWatched(w);
  }
  endLater(std::move(ended));
}

// The number of entries; any thread.
std::size_t watchedStreams() {
  Watch& w = watch();
  MutexLock hold(&w.lock);
  return w.streams.size();
}

}  // namespace zorsck::platform
