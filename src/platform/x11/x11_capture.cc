// The capture thread: grabs with MIT-SHM when the stream's rectangle was
// drawn to (at most once a frame interval), or at the configured pace on a
// server without DAMAGE, and hands frames to the stream's output in place,
// as tasks of its queue, untouched
// (no pass over the pixels: the crop's copy sets alpha, see
// Frame::alphaUndefined).
#include "platform/x11/x11_capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/x11/libxcb_shm.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_damage.h"
#include "platform/x11/x11_frame_pool.h"
#include "platform/x11/x11_session.h"
#include "platform/x11/x11_shm_buffer.h"

namespace zorsck::x11 {
namespace {

using common::complete;

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxPool = 8;
// How long a capture with nothing to grab (no output, empty rectangle, every
// frame held) waits before it looks again.
constexpr auto kIdlePause = std::chrono::milliseconds(2);
// How often a running stream lists the displays although no change was
// reported: the server sends no RandR event when a client sets or deletes a monitor.
constexpr auto kListingInterval = std::chrono::seconds(1);

// Moves a grab that ShmGetImage packed at the start of `pixels` to its place
// in the frame and blacks out the rest of the frame; capture thread.
void placeGrab(std::uint8_t* pixels, const CapturePlan& plan) {
  const std::size_t stride = std::size_t{plan.frameWidth} * 4;
  const std::size_t rowBytes = std::size_t{plan.grab.width} * 4;
  const std::size_t left = std::size_t{plan.left} * 4;
  // From the last row up: each row's place lies at or after where it was packed.
  for (std::size_t r = plan.grab.height; r-- > 0;) {
    std::uint8_t* row = pixels + (plan.top + r) * stride;
    std::memmove(row + left, pixels + r * rowBytes, rowBytes);
    std::memset(row, 0, left);
    std::memset(row + left + rowBytes, 0, stride - left - rowBytes);
  }
  const std::size_t below = std::size_t{plan.top} + plan.grab.height;
  std::memset(pixels, 0, plan.top * stride);
  std::memset(pixels + below * stride, 0, (plan.frameHeight - below) * stride);
}

// Why grabbing ended: the broken connection if it broke, else `detail`; capture thread.
std::string grabFailure(const Connection& conn, const std::string& detail) {
  if (!conn.ok()) return "lost the connection to X display " + displayName() + ": " + conn.failure();
  return detail;
}

// Lists the displays again over `conn` and keeps the listing for display
// queries; why `monitor` no longer shows what it showed when the stream was
// made, or ""; capture thread.
std::string monitorMoved(const Connection& conn, const Monitor& monitor) {
  std::vector<Monitor> now;
  std::string error;
  if (!listMonitors(conn.get(), conn.defaultScreen(), &now, &error)) {
    return grabFailure(conn, "cannot list the displays of X display " + displayName() + ": " + error);
  }
  keepMonitors(now);
  return layoutChange(monitor, now);
}

}  // namespace

CapturePlan planCapture(const Monitor& monitor, const platform::StreamConfiguration& config) {
  CapturePlan plan = common::placeFrame(monitor.x, monitor.y, monitor.width, monitor.height, config);
  const double interval = platform::mediaTimeSeconds(config.minimumFrameInterval);
  plan.intervalSeconds = std::isfinite(interval) && interval > 0 ? std::min(interval, 3600.0) : 0.0;
  plan.poolSize = static_cast<std::size_t>(std::clamp(config.queueDepth, 1, static_cast<int>(kMaxPool)));
  return plan;
}

std::string unsupportedFormat(const Connection& conn, int screenNumber) {
  const xcb_screen_t* screen = conn.screen(screenNumber);
  if (screen == nullptr) return "X display " + displayName() + " has no screen " + std::to_string(screenNumber);
  const xcb_setup_t* setup = xcb_get_setup(conn.get());
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    return "X display " + displayName() +
           " sends images most significant byte first; only BGRA (least significant byte first) can be captured";
  }
  int bitsPerPixel = 0;
  const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
  for (int i = 0; i < xcb_setup_pixmap_formats_length(setup); ++i) {
    if (formats[i].depth == screen->root_depth) bitsPerPixel = formats[i].bits_per_pixel;
  }
  const xcb_visualtype_t* visual = nullptr;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0 && visual == nullptr; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
      if (v.data->visual_id == screen->root_visual) visual = v.data;
    }
  }
  const bool trueColor = visual != nullptr && (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                               visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
  const bool bgr = visual != nullptr && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
                   visual->blue_mask == 0xff;
  if ((screen->root_depth == 24 || screen->root_depth == 32) && bitsPerPixel == 32 && trueColor && bgr) {
    return "";
  }
  return "X display " + displayName() + " screen " + std::to_string(screenNumber) + " has depth " +
         std::to_string(screen->root_depth) + " at " + std::to_string(bitsPerPixel) +
         " bits per pixel; only 24- or 32-bit TrueColor screens with 8-bit red, green and blue can be captured";
}

Capture::Capture(const Monitor& monitor, const platform::StreamConfiguration& config,
                 platform::StreamOutputRef delegate)
    : CaptureThread(config, std::move(delegate)), monitor_(monitor) {}

bool Capture::requestFrame() {
  MutexLock lock(&mu_);
  frameWanted_ = true;
  wake_.ring();
  return true;
}

void Capture::run(platform::Completion started) {
  common::prepareThisThread("zorsck-capture");
  std::string failure;
  std::size_t poolSize = 1;
  {
    Connection conn;
    if (!wake_.ok()) {
      failure = wake_.failure();
    } else if (!conn.ok()) {
      failure = "cannot connect to X display " + displayName() + ": " + conn.failure();
    } else if (!conn.hasShm()) {
      failure = "X display " + displayName() + " does not offer MIT-SHM shared memory";
    } else {
      failure = unsupportedFormat(conn, monitor_.screen);
    }
    if (!failure.empty()) {
      complete(std::move(started), failure);
      finish("");
      return;
    }
    DamageWatch damage(conn.get(), monitor_.root, watchLayout(conn.get()));
    // A monitor that changed since the displays were listed for this stream
    // fails its start, so the next start waits as after any failed one
    // rather than following at once; later changes are reported as events,
    // asked for before this listing.
    if (std::string moved = monitorMoved(conn, monitor_); !moved.empty()) {
      complete(std::move(started), moved);
      finish("");
      return;
    }
    {
      MutexLock lock(&mu_);
      phase_ = Phase::running;
      poolSize = planCapture(monitor_, config_).poolSize;
    }
    complete(std::move(started), "");
    FramePool pool(conn.get(), poolSize);
    failure = grabLoop(conn, damage, pool);
  }
  finish(failure);
}

std::string Capture::grabLoop(Connection& conn, DamageWatch& damage, FramePool& pool) {
  xcb_connection_t* c = conn.get();
  if (!damage.active()) reportTimedGrabs(displayName());
  CapturePlan plan;
  Clock::duration interval{};
  Clock::time_point lastGrab{};    // long past: the first grab is at once
  Clock::time_point notBefore{};   // after a grab that had nothing to do
  bool drawn = true;               // the rectangle changed since the last grab
  bool wanted = false;             // a frame was asked for: grab at once, or say nothing changed
  Clock::time_point nextListing = Clock::now() + kListingInterval;
  // Takes in the drawing the server has reported: its rows are grabbed again.
  const auto takeDrawing = [&] {
    const RowSpan rows = damage.drawnRows(plan.grab);
    if (rows.empty()) return;
    pool.markStale(rows);
    drawn = true;
  };
  for (;;) {
    platform::StreamOutputRef output;
    std::shared_ptr<common::TaskQueue> queue;
    std::weak_ptr<const platform::Stream> owner;
    {
      MutexLock lock(&mu_);
      if (stopRequested_) return "";
      if (configChanged_) {
        plan = planCapture(monitor_, config_);
        interval = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(plan.intervalSeconds));
        configChanged_ = false;
        drawn = true;  // a new rectangle needs a frame of its own
        pool.markStale(kAllRows);
        // Taken up: the next grab uses it.
        for (auto& done : updateDone_) complete(std::move(done), "");
        updateDone_.clear();
      }
      output = sink_;
      queue = queue_;
      owner = owner_;
      wanted = std::exchange(frameWanted_, false) || wanted;
    }
    takeDrawing();
    if (!conn.ok()) return grabFailure(conn, "");
    if (damage.layoutChanged() || Clock::now() >= nextListing) {
      if (std::string moved = monitorMoved(conn, monitor_); !moved.empty()) return moved;
      nextListing = Clock::now() + kListingInterval;
      // Events that came with the replies wait in xcb's queue, where the
      // socket no longer shows them: they are read before any wait.
      continue;
    }
    if (wanted && damage.active() && !drawn && output && queue) {
      // Every damage notice the server sent before this round trip has come
      // with its reply, which also tells whether the monitor still shows the
      // same place (a monitor set by another client sends no notice).
      const platform::MediaTime through = platform::hostClockNow();
      std::string moved;
      if (!askSamePlace(c, monitor_, &moved)) return grabFailure(conn, "the X server did not list its monitors");
      if (!moved.empty()) return moved;
      takeDrawing();
      if (damage.layoutChanged()) continue;  // listed again above before any answer
      if (!drawn) {
        wanted = false;
        const std::shared_ptr<const platform::Stream> stream = owner.lock();
        queue->runInPlace([&] { output->didSeeNoChange(stream.get(), through); });
        continue;
      }
    }
    // Missed grabs are not made up: the next is one interval after the last.
    // Until then drawing need not wake the thread: it is read once the time comes.
    // A frame asked for is grabbed at once.
    const Clock::time_point due = wanted ? notBefore : std::max(lastGrab + interval, notBefore);
    if (Clock::now() < due) {
      wake_.wait(-1, std::min(due, nextListing));
      continue;
    }
    if (damage.active() && !drawn) {
      // Nothing to grab until the server reports drawing (or the server goes).
      // No round trip came since the events were read, so none wait unseen.
      xcb_flush(c);
      wake_.wait(xcb_get_file_descriptor(c), nextListing);
      continue;
    }
    lastGrab = Clock::now();
    notBefore = lastGrab;
    const std::size_t pixels = std::size_t{plan.frameWidth} * plan.frameHeight;
    if (!output || !queue || pixels == 0) {
      notBefore = lastGrab + kIdlePause;
      drawn = drawn && pixels != 0;  // an empty frame has nothing to show
      continue;
    }
    std::string error;
    PoolSlot* slot = pool.acquire(pixels * 4, &error);
    if (slot == nullptr) {
      if (!error.empty()) return grabFailure(conn, error);
      notBefore = lastGrab + kIdlePause;  // every frame is held: skip this one
      continue;
    }
    // Drawing from here on shows in this grab or is reported for the next.
    damage.forget();
    drawn = false;
    wanted = false;
    const platform::MediaTime presentation = platform::hostClockNow();
    ShmBuffer* buffer = slot->buffer;
    const GrabRect& g = plan.grab;
    // A frame that is all on the monitor still holds what the screen showed
    // at its last grab: only the rows drawn in since then (whole rows, which
    // the server packs at their place in the frame) are grabbed again.
    const bool inPlace = g.width == plan.frameWidth && g.height == plan.frameHeight;
    RowSpan rows{0, g.height};
    if (damage.active() && inPlace) rows = {std::min(slot->stale.top, g.height), std::min(slot->stale.bottom, g.height)};
    slot->stale = {};
    if (g.width > 0 && !rows.empty()) {
      xcb_generic_error_t* refusal = nullptr;
      Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
          c,
          xcb_shm_get_image(c, monitor_.root, static_cast<std::int16_t>(g.x), static_cast<std::int16_t>(g.y + rows.top),
                            static_cast<std::uint16_t>(g.width), static_cast<std::uint16_t>(rows.bottom - rows.top), ~0u,
                            XCB_IMAGE_FORMAT_Z_PIXMAP, slot->segment, rows.top * g.width * 4),
          &refusal));
      Reply<xcb_generic_error_t> refused(refusal);
      if (!reply) {
        // A screen that shrank refuses grabs past its new edge.
        if (std::string moved = monitorMoved(conn, monitor_); !moved.empty()) return moved;
        return grabFailure(conn, "the X server refused to grab display pixels (X error " +
                                     std::to_string(refused ? refused->error_code : 0) + ")");
      }
    }
    // A layout change the server made before this grab came ahead of its
    // reply: the frame may show another place and is not handed out.
    takeDrawing();
    if (damage.layoutChanged()) {
      if (std::string moved = monitorMoved(conn, monitor_); !moved.empty()) return moved;
    }
    // A frame reaching off the monitor keeps its size; what lies off it is black.
    if (!inPlace) placeGrab(buffer->memory(), plan);
    buffer->width = plan.frameWidth;
    buffer->height = plan.frameHeight;
    buffer->stride = std::size_t{plan.frameWidth} * 4;
    // Handed over here, as one of the queue's tasks: no hop, no wake-up of another thread.
    // The stream is held for the call, so the stream it names cannot go meanwhile.
    const common::Sample sample{common::frameOf(buffer), presentation, {}};
    const std::shared_ptr<const platform::Stream> stream = owner.lock();
    queue->runInPlace([&] {
      output->didOutputSampleBuffer(stream.get(), platform::SampleBuffer(&sample), platform::OutputType::screen);
    });
  }
}

}  // namespace zorsck::x11
