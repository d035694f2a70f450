// The Windows rig of the robustness matrix: the session's primary display
// (under Wine on Xvfb, read on the GDI path), covered by a topmost window
// painted with each generation. The display switches between its largest
// mode and the largest one smaller both ways (ChangeDisplaySettingsExW) and
// is set back at the end. The library talks to no server process, keeps no
// state files, listens to no bus, and each start makes a new stream.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "robustness_matrix.h"
#include "windows/gdi_window.h"

namespace zorsck::matrix {
namespace {

Size sizeOf(const DEVMODEW& mode) { return {static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight)}; }

// The largest 32-bit mode of the primary display smaller than `bound` both
// ways into `found`; false when there is none; test thread.
bool largestBelow(const Size& bound, DEVMODEW* found) {
  bool any = false;
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  for (DWORD i = 0; ::EnumDisplaySettingsW(nullptr, i, &mode); ++i) {
    const Size s = sizeOf(mode), best = sizeOf(*found);
    if (mode.dmBitsPerPel != 32 || s.width >= bound.width || s.height >= bound.height) continue;
    if (!any || s.width * s.height > best.width * best.height) *found = mode;
    any = true;
  }
  return any;
}

class WindowsRig : public Rig {
 public:
  ~WindowsRig() override {
    if (!sizes_.empty() && size_.width != sizes_[0].width) setMode(0);
  }

  std::string name() const override { return "Windows"; }

  std::string start() override {
    for (DEVMODEW mode{}; sizes_.size() < 2 && largestBelow(sizes_.empty() ? Size{1 << 30, 1 << 30} : sizes_[0], &mode);) {
      modes_.push_back(mode);
      sizes_.push_back(sizeOf(mode));
    }
    size_ = {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const std::string failure = sizes_.empty() || size_.width == sizes_[0].width ? "" : setMode(0);
    if (!failure.empty()) return failure;
    window_ = std::make_unique<test::PaintedWindow>(0, 0, size_.width, size_.height, 1);  // over every smaller size too
    return window_->open() ? "" : "no window could be opened";
  }

  std::vector<Dependency> dependencies() const override { return {}; }
  std::string restart(const std::string& name, int) override { return "no process " + name + " to start again"; }
  std::vector<Size> sizes() const override { return sizes_; }

  std::string resize(const Size& size, int generation) override {
    const std::string failure = setMode(size.width == sizes_[0].width ? 0 : 1);
    return failure.empty() ? paint(generation) : failure;
  }

  std::string paint(int generation) override { return window_->repaint(generation) ? "" : "not painted within 5 s"; }

  std::string compare(const std::vector<std::uint8_t>& pixels, const Rect& r, int generation) const override {
    return test::firstDifference(pixels, r, [generation](std::uint32_t x, std::uint32_t y) {
      return test::patternPixel(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                static_cast<std::uint32_t>(generation)) | 0xff000000u;
    });
  }

  std::vector<StatePath> statePaths() const override { return {}; }
  std::vector<Forgery> forgeries() override { return {}; }

  // The loop and a stream's capture thread (the worker lists the displays
  // between streams only); the loop alone once idle.
  std::pair<int, int> threadBudget() const override { return {2, 1}; }

 private:
  // Gives the primary display mode `index` of modes_ until this process ends;
  // "" or why not; test thread.
  std::string setMode(std::size_t index) {
    const LONG changed = ::ChangeDisplaySettingsExW(nullptr, &modes_[index], nullptr, CDS_FULLSCREEN, nullptr);
    if (changed != DISP_CHANGE_SUCCESSFUL) return "ChangeDisplaySettingsExW answered " + std::to_string(changed);
    size_ = sizes_[index];
    return "";
  }

  // The largest 32-bit mode, and the largest smaller both ways, with their sizes.
  std::vector<DEVMODEW> modes_;
  std::vector<Size> sizes_;
  Size size_;  // the display's now
  std::unique_ptr<test::PaintedWindow> window_;
};

}  // namespace

std::unique_ptr<Rig> makeRig() { return std::make_unique<WindowsRig>(); }

}  // namespace zorsck::matrix
