// Displays: their modes, the shareable content and content filters.
#include <utility>

#include "platform/sim/sim_dispatch.h"

namespace zorsck::platform {

// A display as the shareable content lists it.
class Display {
 public:
  explicit Display(DisplayId id) : id_(id) {}
  DisplayId id() const { return id_; }

 private:
  const DisplayId id_;
};

// A filter showing one whole display.
class ContentFilter {
 public:
  explicit ContentFilter(DisplayId display) : display_(display) {}
  DisplayId display() const { return display_; }

 private:
  const DisplayId display_;
};

DisplayId displayId(const Display& display) { return display.id(); }

DisplayId mainDisplayId() {
  MutexLock lock(&sim::gSimMu);
  if (sim::state().mainDisplay) return *sim::state().mainDisplay;
  return sim::state().displays.empty() ? 0 : sim::state().displays.front().id;
}

bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  MutexLock lock(&sim::gSimMu);
  const sim::DisplaySpec* entry = sim::findDisplay(display);
  if (entry == nullptr || !entry->hasMode) return false;
  if (info != nullptr) {
    info->width = entry->pointWidth;
    info->pixelWidth = entry->pixelWidth;
    info->pixelHeight = entry->pixelHeight;
    info->refreshRate = entry->refreshRate;
  }
  return true;
}

std::size_t displayPixelsWide(DisplayId display) {
  MutexLock lock(&sim::gSimMu);
  const sim::DisplaySpec* entry = sim::findDisplay(display);
  return entry ? entry->pixelWidth : 0;
}

std::size_t displayPixelsHigh(DisplayId display) {
  MutexLock lock(&sim::gSimMu);
  const sim::DisplaySpec* entry = sim::findDisplay(display);
  return entry ? entry->pixelHeight : 0;
}

void getShareableContent(bool /*excludingDesktopWindows*/, bool /*onScreenWindowsOnly*/,
                         std::function<void(ShareableContentRef, const Error*)> completion) {
  bool failed = false;
  std::vector<DisplayId> ids;
  {
    MutexLock lock(&sim::gSimMu);
    ++sim::state().contentQueries;
    failed = sim::takeFault(sim::Fault::contentQueryError);
    if (!failed && !sim::takeFault(sim::Fault::emptyDisplayList)) {
      for (const sim::DisplaySpec& entry : sim::state().displays) ids.push_back(entry.id);
    }
  }
  std::shared_ptr<ShareableContent> content;
  if (!failed) {
    content = std::make_shared<ShareableContent>();
    for (DisplayId id : ids) content->displays.push_back(std::make_shared<Display>(id));
  }
  sim::complete(sim::Step::contentQuery,
                [content = std::move(content), completion = std::move(completion)] {
                  if (!content) {
                    const Error error{"simulated content query error"};
                    completion(nullptr, &error);
                    return;
                  }
                  completion(content, nullptr);
                });
}

ContentFilterRef makeContentFilter(const Display& display) {
  return std::make_shared<ContentFilter>(display.id());
}

}  // namespace zorsck::platform

namespace zorsck::sim {

const DisplaySpec* findDisplay(platform::DisplayId id) {
  for (const DisplaySpec& entry : state().displays) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

platform::DisplayId filterDisplay(const platform::ContentFilter& filter) { return filter.display(); }

void setDisplays(const std::vector<DisplaySpec>& displays) {
  std::vector<std::shared_ptr<const FrameGeometry>> old;  // freed outside the lock
  MutexLock lock(&gSimMu);
  state().displays = displays;
  state().mainDisplay.reset();
  // Frames from now on show the new display geometry.
  for (const auto& record : state().streams) old.push_back(std::move(record->geometry));
  lock.unlock();
}

void setMainDisplay(platform::DisplayId id) {
  MutexLock lock(&gSimMu);
  state().mainDisplay = id;
}

}  // namespace zorsck::sim
