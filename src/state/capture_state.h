// The one capture state of the process: every field that the host calls, the
// frame intake, the idle timer and the start and stop tasks share, behind one
// non-recursive mutex. It lives from first use to the end of the process and is
// never torn down, so late platform callbacks at exit find it intact.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "base/condvar.h"
#include "base/geometry.h"
#include "base/mutex.h"
#include "state/delivery_stats.h"
#include "state/start_request.h"
#include "platform/platform.h"

namespace zorsck {

// Values of CaptureState::state.
inline constexpr std::int64_t kNoStream = 0;
inline constexpr std::int64_t kStartRequested = 1;
inline constexpr std::int64_t kStreamRunning = 2;

struct CaptureState {
  Mutex lock;

  // Stream lifecycle.
  std::int64_t state GUARDED_BY(lock) = kNoStream;
  platform::StreamRef streamRef GUARDED_BY(lock);         // the running stream
  platform::StreamOutputRef outputRef GUARDED_BY(lock);   // its Output, kept alive beside it
  platform::DisplayId streamDisplay GUARDED_BY(lock) = 0;
  std::uint64_t streamOutputId GUARDED_BY(lock) = 0;      // Output::id() of the published stream
  // Starts are numbered as crops request them; a stop cancels those numbered
  // up to `cancelledThrough` below.
  std::uint64_t startGeneration GUARDED_BY(lock) = 0;     // the newest start requested
  // At most one start runs on the platform at a time; a start asked for
  // meanwhile waits here and is launched when the running one ends (only the
  // newest waits). A stop ends every start asked for before it: a start
  // numbered at or below `cancelledThrough` publishes nothing and stops
  // whatever stream it brought up.
  std::uint64_t startInFlight GUARDED_BY(lock) = 0;        // its number; 0: none
  std::optional<StartRequest> nextStart GUARDED_BY(lock);
  // The newest start asked for, in flight or waiting: a host that ensures
  // another display while it is pending cancels it.
  StartRequest newestStart GUARDED_BY(lock);
  std::uint64_t cancelledThrough GUARDED_BY(lock) = 0;
  // A capture start the platform has not answered by this host-clock reading
  // (seconds) is given up, so a lost completion cannot keep the state
  // starting for ever.
  double startDeadline GUARDED_BY(lock) = 0.0;
  // The Output of the start in flight once its stream exists, and the platform's
  // stop notice for it if one came before the start was published.
  std::uint64_t startingOutputId GUARDED_BY(lock) = 0;
  std::optional<platform::Error> startingStopped GUARDED_BY(lock);
  // After a failed start no new one begins before this host-clock reading
  // (seconds), so a start that keeps failing costs one attempt a second.
  double startsResumeAt GUARDED_BY(lock) = 0.0;
  // The display the crop named for the published stream: when that display
  // was not listed the stream shows another, and asking for it again must
  // not restart the stream.
  platform::DisplayId streamAskedFor GUARDED_BY(lock) = 0;
  // Host-clock seconds of the last ensure or crop, so a wall clock set back
  // or forward never moves the idle stop.
  double lastAccess GUARDED_BY(lock) = 0.0;

  // Set when the user has not allowed screen recording: the host's calls
  // answer an error and no start is made. The permission is looked at again,
  // without prompting, once `accessCheckAt` (host clock, seconds) has passed.
  bool refused GUARDED_BY(lock) = false;
  bool refusalAnnounced GUARDED_BY(lock) = false;  // said once until a stream runs again
  bool allowanceAnnounced GUARDED_BY(lock) = false;  // likewise its lifting
  bool accessCheckRunning GUARDED_BY(lock) = false;
  double accessCheckAt GUARDED_BY(lock) = 0.0;
  // Set when the user stopped the capture: the host's calls answer an error
  // until the host stops or ensures, so a stream the user ended stays ended.
  bool userStopped GUARDED_BY(lock) = false;

  // Display geometry: measured by the crop that starts a stream, for the
  // display it names, and set again to the published stream's own.
  PixelSize dispPx GUARDED_BY(lock);
  double dispScale GUARDED_BY(lock) = 2.0;                // pixels per point

  // The latest frame, as the intake published it.
  platform::Frame latest GUARDED_BY(lock);
  Origin latestOrigin GUARDED_BY(lock);
  SizeKey latestSize GUARDED_BY(lock);                    // its width and height in pixels
  std::uint64_t latestTs GUARDED_BY(lock) = 0;            // ms since 1970
  // Written with the lock held, read without it too: zor_sck_seq never takes
  // the lock, which a forked child may find held by a thread it does not have.
  std::atomic<std::uint64_t> latestSeq{0};
  // Output::id() of the stream that delivered `latest`. A stream that is being
  // stopped may still deliver frames after a new one has started; frames are
  // placed on the display by their size, so only the published stream's own
  // frames are served.
  std::uint64_t latestOutputId GUARDED_BY(lock) = 0;
  // Whether an origin was recorded for `latest`'s size. A frame of a size that
  // nobody asked for (a start that a stop overtook, say) cannot be placed on the
  // display and is not served.
  bool latestPlaced GUARDED_BY(lock) = false;
  // Frames of streams that are neither published nor the start in flight (a
  // start given up, a stream being stopped): dropped at the intake, counted
  // here with the lock held, and read without it.
  std::atomic<std::uint64_t> strayFrames{0};

  // How recent a picture of the display `latest` is: host-clock seconds of
  // its capture, raised when the platform reports that nothing was drawn
  // since. A crop that asks for a picture from a moment on waits for it.
  double latestShowsThrough GUARDED_BY(lock) = 0.0;
  // The newest moment a frame was asked for, of which stream (Output::id()),
  // and whether that stream's platform answers (else a frame that does not
  // come within two frame intervals shows that nothing changed).
  double frameAskedFor GUARDED_BY(lock) = 0.0;
  std::uint64_t frameAskedOf GUARDED_BY(lock) = 0;
  bool frameRequestsAnswered GUARDED_BY(lock) = false;
  double frameInterval GUARDED_BY(lock) = 1.0 / 60.0;  // seconds, of the published stream
  // Counted (with the lock held) and notified when a frame is published, the
  // platform reports no change or the stream goes: what a crop waiting for a
  // recent picture waits for, read without the lock while it spins.
  std::atomic<std::uint64_t> pictureVersion{0};
  CondVar pictureChanged;

  // The frame the latest plain crop served, for sequenced crops.
  platform::Frame served GUARDED_BY(lock);
  Origin servedOrigin GUARDED_BY(lock);
  std::uint64_t servedTs GUARDED_BY(lock) = 0;
  std::uint64_t servedSeq GUARDED_BY(lock) = 0;

  // Region tracking.
  std::optional<PixelRect> streamRect GUARDED_BY(lock);   // what the stream was asked to show
  std::optional<EdgeRect> unionRect GUARDED_BY(lock);     // union of region requests
  std::map<SizeKey, Origin> originBySize GUARDED_BY(lock);
  bool reconfiguring GUARDED_BY(lock) = false;
  // Numbers update requests; only the completion of the newest one clears
  // `reconfiguring`, and a newly published stream forgets it, so a late
  // completion of an old stream's update changes nothing.
  std::uint64_t reconfigureToken GUARDED_BY(lock) = 0;
  double lastReconfigure GUARDED_BY(lock) = 0.0;          // host-clock seconds; 0 at first

  // Delivery statistics, counted only in debug mode.
  DeliveryStats stats GUARDED_BY(lock);
};

// The process's capture state, made on first use and never destroyed; any thread.
CaptureState& captureState();

}  // namespace zorsck
