// The painted window: a popup without borders whose every pixel the pattern gives.
#include "gdi_window.h"

#include <chrono>
#include <vector>

namespace zorsck::test {
namespace {

constexpr wchar_t kClass[] = L"ZorsckPaintedWindow";

// Paints the window's pattern into its client area; window thread.
LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  if (message != WM_PAINT) return ::DefWindowProcW(hwnd, message, wp, lp);
  auto* seed = reinterpret_cast<std::atomic<std::uint32_t>*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  RECT r;
  ::GetClientRect(hwnd, &r);
  const std::uint32_t s = seed->load();
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(r.right) * r.bottom);
  for (LONG y = 0; y < r.bottom; ++y) {
    for (LONG x = 0; x < r.right; ++x) pixels[static_cast<std::size_t>(y) * r.right + x] = patternPixel(x, y, s);
  }
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(hwnd, &ps);
  ::SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(r.right), static_cast<DWORD>(r.bottom), 0, 0, 0,
                      static_cast<UINT>(r.bottom), pixels.data(), &info, DIB_RGB_COLORS);
  ::EndPaint(hwnd, &ps);
  ::GdiFlush();
  // Tells the test which pattern is on the screen.
  auto* painted = reinterpret_cast<std::atomic<std::uint32_t>*>(::GetPropW(hwnd, L"painted"));
  painted->store(s);
  return 0;
}

}  // namespace

std::uint32_t patternPixel(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  // Eleven bits of each coordinate, turned by the seed's mask: no two places
  // of a 2048x2048 screen, and no two seeds at one place, alike.
  const auto place = (static_cast<std::uint32_t>(x) & 0x7ffu) | (static_cast<std::uint32_t>(y) & 0x7ffu) << 11;
  return (place ^ seed * 0x9e3779b1u) & 0xffffffu;
}

PaintedWindow::PaintedWindow(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                             std::uint32_t seed)
    : seed_(seed), thread_([=, this] { serve(x, y, w, h); }) {
  awaitPainted(seed);
}

PaintedWindow::~PaintedWindow() {
  if (HWND hwnd = window_.load()) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  thread_.join();
}

bool PaintedWindow::repaint(std::uint32_t seed) {
  seed_ = seed;
  ::InvalidateRect(window_.load(), nullptr, FALSE);
  return awaitPainted(seed);
}

bool PaintedWindow::awaitPainted(std::uint32_t seed) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (painted_.load() != seed && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return painted_.load() == seed;
}

void PaintedWindow::serve(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  ::RegisterClassW(&wc);
  HWND hwnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, L"zorsck", WS_POPUP, x, y, w, h,
                                nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) return;  // open() says so once the wait for a painting ends
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seed_));
  ::SetPropW(hwnd, L"painted", &painted_);
  window_ = hwnd;
  ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  ::UpdateWindow(hwnd);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_CLOSE && msg.hwnd == hwnd) break;
    ::DispatchMessageW(&msg);
  }
  ::DestroyWindow(hwnd);
}

}  // namespace zorsck::test
