// Listing the outputs with DXGI, or EnumDisplayMonitors, and naming them with
// ids that stay the same for the session.
#include "platform/windows/win_outputs.h"

#include <dxgi.h>

#include <algorithm>
#include <map>

#include "base/mutex.h"
#include "platform/windows/win_handles.h"

namespace zorsck::win {
namespace {

// Device names to ids, in the order first seen; never freed.
struct Names {
  Mutex mu;
  std::map<std::wstring, platform::DisplayId> ids GUARDED_BY(mu);
};

Names& names() {
  static Names* const n = new Names;
  return *n;
}

// The session's id of `device`, given at its first sight; any thread.
platform::DisplayId idOf(const std::wstring& device) {
  Names& n = names();
  MutexLock lock(&n.mu);
  const auto [it, added] = n.ids.emplace(device, static_cast<platform::DisplayId>(n.ids.size() + 1));
  return it->second;
}

// Fills what the monitor itself says of `out`: primary, refresh rate; a library thread.
void describeMonitor(HMONITOR monitor, Output* out) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(monitor, &info)) {
    out->primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    if (out->device.empty()) out->device = info.szDevice;
  }
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  if (::EnumDisplaySettingsW(out->device.c_str(), ENUM_CURRENT_SETTINGS, &mode) &&
      mode.dmDisplayFrequency > 1) {
    out->refreshRate = mode.dmDisplayFrequency;  // 0 and 1 mean the hardware's default
  }
}

// Sets `out` to the rectangle `r`; false for an empty one; any thread.
bool place(const RECT& r, Output* out) {
  if (r.right <= r.left || r.bottom <= r.top) return false;
  out->x = r.left;
  out->y = r.top;
  out->width = static_cast<std::uint32_t>(r.right - r.left);
  out->height = static_cast<std::uint32_t>(r.bottom - r.top);
  return true;
}

// Every output of every adapter attached to the desktop; a library thread.
std::vector<Output> dxgiOutputs() {
  std::vector<Output> found;
  const ComPtr<IDXGIFactory1> factory = dxgiFactory();
  if (!factory) return found;
  ComPtr<IDXGIAdapter1> adapter;
  for (UINT a = 0; factory->EnumAdapters1(a, adapter.put()) != DXGI_ERROR_NOT_FOUND; ++a) {
    ComPtr<IDXGIOutput> output;
    for (UINT o = 0; adapter->EnumOutputs(o, output.put()) != DXGI_ERROR_NOT_FOUND; ++o) {
      DXGI_OUTPUT_DESC desc{};
      if (FAILED(output->GetDesc(&desc)) || !desc.AttachedToDesktop) continue;
      Output out;
      out.device = desc.DeviceName;
      // DesktopCoordinates are the rotated, upright rectangle in physical pixels.
      if (!place(desc.DesktopCoordinates, &out)) continue;
      describeMonitor(desc.Monitor, &out);
      found.push_back(out);
    }
  }
  return found;
}

// The desktop's monitors as the window manager lists them; a library thread.
std::vector<Output> gdiMonitors() {
  std::vector<Output> found;
  ::EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT rect, LPARAM data) -> BOOL {
        Output out;
        if (place(*rect, &out)) {
          describeMonitor(monitor, &out);
          reinterpret_cast<std::vector<Output>*>(data)->push_back(out);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The factory kept for the session; never released, so nothing of DXGI runs at exit.
struct FactoryCache {
  Mutex mu;
  IDXGIFactory1* factory GUARDED_BY(mu) = nullptr;
};

}  // namespace

ComPtr<IDXGIFactory1> dxgiFactory() {
  static FactoryCache* const cache = new FactoryCache;
  MutexLock lock(&cache->mu);
  // A factory lists the adapters and outputs of its making: a stale one is replaced.
  if (cache->factory != nullptr && !cache->factory->IsCurrent()) {
    cache->factory->Release();
    cache->factory = nullptr;
  }
  if (cache->factory == nullptr &&
      FAILED(::CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&cache->factory)))) {
    cache->factory = nullptr;
  }
  ComPtr<IDXGIFactory1> shared;
  if (cache->factory != nullptr) {
    cache->factory->AddRef();
    *shared.put() = cache->factory;
  }
  return shared;
}

void seePhysicalPixels() {
  using SetAwareness = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
  static const auto setAwareness = reinterpret_cast<SetAwareness>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
  if (setAwareness == nullptr) return;  // before Windows 10 1607: the process's awareness holds
  if (setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) == nullptr) {
    setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
  }
}

bool listOutputs(std::vector<Output>* out, std::string* error) {
  std::vector<Output> found = dxgiOutputs();
  if (found.empty()) found = gdiMonitors();
  if (found.empty()) {
    *error = "the desktop has no display";
    return false;
  }
  for (Output& o : found) o.id = idOf(o.device);
  // The primary output first, the rest in the order listed.
  std::stable_partition(found.begin(), found.end(), [](const Output& o) { return o.primary; });
  *out = std::move(found);
  return true;
}

std::string layoutChange(const Output& before, const std::vector<Output>& now) {
  const auto it = std::find_if(now.begin(), now.end(), [&](const Output& o) { return o.id == before.id; });
  if (it == now.end()) return "display " + narrow(before.device) + " is gone";
  if (it->x != before.x || it->y != before.y || it->width != before.width || it->height != before.height) {
    return "display " + narrow(before.device) + " changed from " + std::to_string(before.width) + "x" +
           std::to_string(before.height) + " at " + std::to_string(before.x) + "," + std::to_string(before.y) +
           " to " + std::to_string(it->width) + "x" + std::to_string(it->height) + " at " +
           std::to_string(it->x) + "," + std::to_string(it->y);
  }
  return "";
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return "";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

}  // namespace zorsck::win
