// The Wayland backend: displays are the monitors a screen-cast session shares,
// streams cut their rectangle out of those monitors' PipeWire frames.
#include <memory>
#include <string>
#include <utility>

#include "base/mutex.h"
#include "platform/linux/backend.h"
#include "platform/wayland/wl_session.h"

namespace zorsck::wayland {
namespace {

class WlDisplay : public platform::Display {
 public:
  WlDisplay(platform::DisplayId id, std::weak_ptr<Capturer> capturer) : id_(id), capturer_(std::move(capturer)) {}
  platform::DisplayId id() const override { return id_; }
  const std::weak_ptr<Capturer>& capturer() const { return capturer_; }

 private:
  const platform::DisplayId id_;
  const std::weak_ptr<Capturer> capturer_;
};

class WlFilter : public platform::ContentFilter {
 public:
  explicit WlFilter(const WlDisplay& d) : capturer(d.capturer()) {}
  const std::weak_ptr<Capturer> capturer;  // the monitor's stream
};

// Why `config`'s rectangle cannot be cut from `capturer`'s frames, or "".
std::string misfit(const Capturer& capturer, const platform::StreamConfiguration& config) {
  const VideoFormat f = capturer.format();
  const double x = config.sourceRect.x, y = config.sourceRect.y;
  const double w = static_cast<double>(config.width), h = static_cast<double>(config.height);
  if (w >= 1 && h >= 1 && x >= 0 && y >= 0 && x + w <= f.width && y + h <= f.height) return "";
  return "the rectangle " + std::to_string(config.width) + "x" + std::to_string(config.height) + " at " +
         std::to_string(static_cast<long long>(x)) + "," + std::to_string(static_cast<long long>(y)) +
         " does not lie on display " + std::to_string(capturer.display()) + " (" + std::to_string(f.width) + "x" +
         std::to_string(f.height) + ")";
}

class WlStream : public platform::Stream {
 public:
  WlStream(std::weak_ptr<Capturer> capturer, const platform::StreamConfiguration& config,
           platform::StreamOutputRef delegate)
      : capturer_(std::move(capturer)), config_(config) {
    sink_->edit([&](Sink::View& v) { v.delegate = std::move(delegate); });
  }
  ~WlStream() override {
    if (const auto c = capturer_.lock()) c->detach(sink_.get());
  }
  WlStream(const WlStream&) = delete;
  WlStream& operator=(const WlStream&) = delete;

  // Names this stream in the reports of its sink; once, right after it is made.
  void setOwner(const std::shared_ptr<WlStream>& self) {
    sink_->edit([&](Sink::View& v) { v.owner = self; });
  }

  bool addOutput(platform::StreamOutputRef output, platform::OutputType type, platform::SerialQueue& queue,
                 platform::Error* error) override {
    if (!output || type != platform::OutputType::screen) {
      if (error != nullptr) error->description = "only screen output can be registered";
      return false;
    }
    // Frames are handed over in place, on PipeWire's threads, as tasks of `queue`.
    bool added = false;
    sink_->edit([&](Sink::View& v) {
      if (v.output) return;
      v.output = std::move(output);
      v.queue = queue.tasks();
      added = true;
    });
    if (!added && error != nullptr) error->description = "the stream already has a screen output";
    return added;
  }

  void start(platform::Completion completion) override {
    const std::shared_ptr<Capturer> capturer = capturer_.lock();
    std::string error;
    platform::StreamConfiguration config;
    {
      MutexLock lock(&mu_);
      if (started_) error = "the stream was already started";
      started_ = true;
      config = config_;
    }
    if (error.empty() && !capturer) error = "the screen-cast session has ended";
    if (error.empty()) error = misfit(*capturer, config);
    if (!error.empty()) {
      completeLater(std::move(completion), error);
      return;
    }
    place(config);
    capturer->attach(sink_, std::move(completion));
  }

  void update(const platform::StreamConfiguration& configuration, platform::Completion completion) override {
    const std::shared_ptr<Capturer> capturer = capturer_.lock();
    const std::string error = capturer ? misfit(*capturer, configuration) : "the stream is not running";
    if (error.empty()) {
      {
        MutexLock lock(&mu_);
        config_ = configuration;
      }
      // The portal cannot narrow a running cast: frames are cut to the new
      // rectangle from now on, starting with the newest one.
      place(configuration);
      capturer->resend(sink_);
    }
    completeLater(std::move(completion), error);
  }

  void stop(platform::Completion completion) override {
    if (const auto c = capturer_.lock()) c->detach(sink_.get());
    completeLater(std::move(completion), "");
  }

 private:
  // Sets the rectangle the sink cuts from each frame.
  void place(const platform::StreamConfiguration& config) {
    sink_->edit([&](Sink::View& v) {
      v.x = static_cast<std::int64_t>(config.sourceRect.x);
      v.y = static_cast<std::int64_t>(config.sourceRect.y);
      v.width = static_cast<std::int64_t>(config.width);
      v.height = static_cast<std::int64_t>(config.height);
    });
  }

  const std::weak_ptr<Capturer> capturer_;
  const std::shared_ptr<Sink> sink_ = std::make_shared<Sink>();
  Mutex mu_;
  bool started_ GUARDED_BY(mu_) = false;
  platform::StreamConfiguration config_ GUARDED_BY(mu_);
};

// The shared display `id` names (0: the main one) into `out`, and the session's phase; false when there is none.
bool findDisplay(platform::DisplayId id, SharedDisplay* out, Phase* phase) {
  std::vector<SharedDisplay> displays;
  *phase = sessionDisplays(&displays);
  for (const SharedDisplay& d : displays) {
    if (id == 0 || d.id == id) {
      *out = d;
      return true;
    }
  }
  return false;
}

class WaylandBackend : public glue::Backend {
 public:
  const char* name() const override { return "wayland"; }

  bool available() override { return sessionAvailable(); }

  platform::DisplayId mainDisplayId() override {
    SharedDisplay d;
    Phase phase = Phase::idle;
    return findDisplay(0, &d, &phase) ? d.id : 0;
  }

  bool displayMode(platform::DisplayId display, platform::DisplayModeInfo* info) override {
    SharedDisplay d;
    Phase phase = Phase::idle;
    if (!findDisplay(display, &d, &phase)) return false;
    info->width = d.format.width;  // scale 1: a point is a pixel
    info->pixelWidth = d.format.width;
    info->pixelHeight = d.format.height;
    info->refreshRate = d.format.rate;
    return true;
  }

  // The place the portal gave for the shared monitor (its optional `position`).
  bool displayPlace(platform::DisplayId display, std::int32_t* x, std::int32_t* y) override {
    SharedDisplay d;
    Phase phase = Phase::idle;
    if (!findDisplay(display, &d, &phase) || !d.placed) return false;
    *x = d.x;
    *y = d.y;
    return true;
  }

  bool displaysKnown() override { return sessionDisplaysKnown(); }

  void getShareableContent(glue::ContentCompletion completion) override { whenSettled(std::move(completion)); }

  void withdrawContentQueries() override { withdrawPendingSession(); }

  platform::ContentFilterRef makeContentFilter(const platform::Display& display) override {
    return std::make_shared<WlFilter>(static_cast<const WlDisplay&>(display));
  }

  platform::StreamRef makeStream(const platform::ContentFilter& filter,
                                 const platform::StreamConfiguration& configuration,
                                 platform::StreamOutputRef delegate) override {
    auto stream = std::make_shared<WlStream>(static_cast<const WlFilter&>(filter).capturer, configuration,
                                             std::move(delegate));
    stream->setOwner(stream);
    return stream;
  }
};

}  // namespace

platform::DisplayRef makeSharedDisplay(const SharedDisplay& display) {
  return std::make_shared<WlDisplay>(display.id, display.capturer);
}

}  // namespace zorsck::wayland

namespace zorsck::glue {

std::unique_ptr<Backend> makeWaylandBackend() { return std::make_unique<wayland::WaylandBackend>(); }

}  // namespace zorsck::glue
