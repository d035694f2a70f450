// The displays of the desktop: every output of every adapter as DXGI lists
// them, or the monitors EnumDisplayMonitors gives where DXGI lists none (a
// session without a DXGI driver). Ids stay the same for the process's life.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <dxgi.h>

#include "platform/platform.h"
#include "platform/windows/win_handles.h"

namespace zorsck::win {

struct Output {
  platform::DisplayId id = 0;  // the session's id for the device name; never 0
  std::wstring device;         // the GDI device name, such as \\.\DISPLAY1
  std::int32_t x = 0, y = 0;   // top-left on the desktop, in physical pixels
  std::uint32_t width = 0, height = 0;  // upright, in physical pixels
  bool primary = false;
  double refreshRate = 0.0;  // hertz of the current mode, 0 when unknown
};

// The process's DXGI factory, made again once the adapters or outputs
// changed; null when DXGI is not there; a library thread.
ComPtr<IDXGIFactory1> dxgiFactory();

// Makes the calling thread see physical pixels whatever the host's DPI
// awareness (per-monitor awareness, where the system has it); a library thread, at its start.
void seePhysicalPixels();

// Lists the outputs attached to the desktop, the primary one first; false
// with `error` filled when none can be found; a library thread.
bool listOutputs(std::vector<Output>* out, std::string* error);

// Why `before` no longer shows the same place of the desktop in `now` (moved,
// resized or gone), or "" when it still does; any thread.
std::string layoutChange(const Output& before, const std::vector<Output>& now);

// `text` in UTF-8; any thread.
std::string narrow(const std::wstring& text);

}  // namespace zorsck::win
