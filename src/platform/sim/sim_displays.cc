// Displays: their modes, the shareable content and content filters.
#include <utility>

#include "platform/sim/sim_state.h"

namespace zorsck::platform {

// A display as the shareable content lists it.
class Display {
 public:
  DisplayId id = 0;
};

// A filter showing one whole display.
class ContentFilter {
 public:
  DisplayId display = 0;
};

DisplayId displayId(const Display& display) { return display.id; }

// The simulated displays are always known; any thread.
bool displaysKnown() { return true; }

// The simulated displays are read as they are now, never from an old listing; any thread.
bool relistDisplays() { return false; }

DisplayId mainDisplayId() {
  MutexLock lock(&sim::gSimMu);
  if (sim::state().mainDisplay) return *sim::state().mainDisplay;
  return sim::state().displays.empty() ? 0 : sim::state().displays.front().id;
}

bool copyDisplayMode(DisplayId display, DisplayModeInfo* info) {
  const std::optional<sim::DisplaySpec> shown = sim::displaySpec(display);
  if (!shown || !shown->hasMode) return false;
  if (info != nullptr) {
    *info = DisplayModeInfo{shown->pointWidth, shown->pixelWidth, shown->pixelHeight,
                            shown->refreshRate};
  }
  return true;
}

std::size_t displayPixelsWide(DisplayId display) {
  const std::optional<sim::DisplaySpec> shown = sim::displaySpec(display);
  return shown ? shown->pixelWidth : 0;
}

std::size_t displayPixelsHigh(DisplayId display) {
  const std::optional<sim::DisplaySpec> shown = sim::displaySpec(display);
  return shown ? shown->pixelHeight : 0;
}

bool displayPlace(DisplayId display, std::int32_t* x, std::int32_t* y) {
  MutexLock lock(&sim::gSimMu);
  std::int64_t left = 0;  // side by side: the widths of the displays listed before it
  for (const sim::DisplaySpec& entry : sim::state().displays) {
    if (entry.id != display) {
      left += static_cast<std::int64_t>(entry.pixelWidth);
      continue;
    }
    if (!entry.placeKnown) return false;
    *x = entry.place ? (*entry.place)[0] : static_cast<std::int32_t>(left);
    *y = entry.place ? (*entry.place)[1] : 0;
    return true;
  }
  return false;
}

const char* backendName() { return "sim"; }

void getShareableContent(bool /*excludingDesktopWindows*/, bool /*onScreenWindowsOnly*/,
                         std::function<void(ShareableContentRef, const Error*)> completion) {
  std::shared_ptr<ShareableContent> content;
  Error error{"simulated content query error"};
  {
    MutexLock lock(&sim::gSimMu);
    ++sim::state().contentQueries;
    if (sim::takeFault(sim::Fault::contentQueryDeclined)) {
      error = Error{"simulated refusal: the user declined screen recording", ErrorKind::declined};
    } else if (!sim::takeFault(sim::Fault::contentQueryError)) {
      content = std::make_shared<ShareableContent>();
      if (!sim::takeFault(sim::Fault::emptyDisplayList)) {
        for (const sim::DisplaySpec& entry : sim::state().displays) {
          content->displays.push_back(std::make_shared<Display>(Display{entry.id}));
        }
      }
    }
  }
  sim::complete(sim::Step::contentQuery,
                [content = std::move(content), completion = std::move(completion), error] {
                  completion(content, content ? nullptr : &error);
                });
}

// The simulated display asks no one: nothing waits for an answer.
void withdrawContentQueries() {}

ContentFilterRef makeContentFilter(const Display& display) {
  return std::make_shared<ContentFilter>(ContentFilter{display.id});
}

}  // namespace zorsck::platform

namespace zorsck::sim {

const DisplaySpec* findDisplay(platform::DisplayId id) {
  for (const DisplaySpec& entry : state().displays) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

std::optional<DisplaySpec> displaySpec(platform::DisplayId id) {
  MutexLock lock(&gSimMu);
  const DisplaySpec* shown = findDisplay(id);
  return shown != nullptr ? std::optional<DisplaySpec>(*shown) : std::nullopt;
}

platform::DisplayId filterDisplay(const platform::ContentFilter& filter) { return filter.display; }

void setDisplays(const std::vector<DisplaySpec>& displays) {
  std::vector<std::shared_ptr<const FrameGeometry>> old;  // freed after the lock
  MutexLock lock(&gSimMu);
  state().displays = displays;
  state().mainDisplay.reset();
  // Frames from now on show the new display geometry.
  for (const auto& record : state().streams) old.push_back(std::move(record->geometry));
}

void setMainDisplay(platform::DisplayId id) {
  MutexLock lock(&gSimMu);
  state().mainDisplay = id;
}

}  // namespace zorsck::sim
