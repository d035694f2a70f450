// The process's connection for questions to the X server and the displays it
// last listed, listed again by a watcher thread whenever the server reports a
// change of the layout. Host calls only read what is kept here and never wait
// for the server (but for the very first connection, at most 0.6 s); the
// round trips run on worker and backend threads. Streams capture over
// connections of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_monitors.h"

namespace zorsck::x11 {

// True when an X display that offers MIT-SHM is connected. A missing or broken
// connection is retried in the background at most once a second; any thread.
bool available();

// Asks the server for its displays and keeps them; false with `error` filled
// when there is no connection or the server did not answer; worker thread.
bool refreshMonitors(std::vector<Monitor>* out, std::string* error);

// Has the worker list the displays again, unless it did so for this within
// the last second and no stream has listed them since; true while that
// listing runs; any thread, never waits.
bool relistDisplays();

// Keeps `monitors`, listed by a stream's capture thread over its own
// connection, as the displays of the server; capture thread.
void keepMonitors(const std::vector<Monitor>& monitors);

// The kept display `id` names (0: the main display); false when there is none; any thread.
bool findMonitor(platform::DisplayId id, Monitor* out);

}  // namespace zorsck::x11
