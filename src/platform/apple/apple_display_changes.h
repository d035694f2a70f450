// Streams ended when their display changes under them: a new mode or scale, a
// rotation, mirroring, or the display going away. A running stream keeps its
// source rectangle and size through such a change and would deliver pixels
// of other places, so its output hears that it stopped, and the next crop
// measures the display again. Two ways notice it: CoreGraphics' callback,
// which comes only to a host that runs an event loop, and a comparison of
// each watched display with its last measurement once a second on a queue of
// the library's own, which needs nothing of the host. Objective-C++ only.
#pragma once

#include <cstddef>
#include <string>

#include "platform/display_shape.h"
#include "platform/platform.h"

namespace zorsck::platform {

// Reads `display` as it is now; any thread.
DisplayShape readDisplayShape(DisplayId display);

// Keeps `shape` as the latest measurement of `display`, the one a stream made
// next is built from; any thread.
void noteMeasured(DisplayId display, const DisplayShape& shape);

// Watches `stream`'s display, measured as `measured` (by default its latest
// measurement, else a reading now), until the stream ends; registers with
// CoreGraphics and starts the comparisons at the first call. Any thread.
void endOnDisplayChange(const StreamRef& stream);
void endOnDisplayChange(const StreamRef& stream, const DisplayShape& measured);

// Called as `stream` is started: the stop notice owed for a change of its
// display seen before it started, which ends its watch, or "" (then its watch
// goes on). Any thread.
std::string changedBeforeStart(const Stream* stream);

// Forgets `stream`; called as it is destroyed. Any thread.
void stopWatching(const Stream* stream);

// Compares each watched display with a reading of it now and ends the streams
// of those that changed. On the comparison queue; tests call it on theirs.
void compareWatchedDisplays();

// How many streams are watched; any thread.
std::size_t watchedStreams();

}  // namespace zorsck::platform
