// Frames grabbed with BitBlt into DIB sections; a frame whose pixels equal
// the last one's is not handed out, so a still screen brings no new frame.
#include "platform/windows/win_gdi.h"

#include <cstring>
#include <utility>

#include "platform/windows/win_outputs.h"

namespace zorsck::win {

DibBuffer* DibBuffer::create(std::uint32_t width, std::uint32_t height, std::string* error) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // negative: rows top to bottom
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    *error = "cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
             " frame (CreateDIBSection error " + std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  auto* buffer = new DibBuffer;
  buffer->bitmap_.reset(bitmap);
  buffer->memory_ = static_cast<std::uint8_t*>(bits);
  buffer->pixels = buffer->memory_;
  buffer->width = width;
  buffer->height = height;
  buffer->stride = std::size_t{width} * 4;
  // BitBlt leaves the fourth byte as it finds it: crops write 255 there.
  buffer->alphaUndefined = true;
  return buffer;
}

namespace {

// The current mode of the display named `device`; false when the system does not tell; capture thread.
bool currentMode(const std::wstring& device, DEVMODEW* mode) {
  *mode = DEVMODEW{};
  mode->dmSize = sizeof *mode;
  return ::EnumDisplaySettingsExW(device.c_str(), ENUM_CURRENT_SETTINGS, mode, 0) != FALSE;
}

// "WxH at x,y" of a display mode; capture thread.
std::string describe(const DEVMODEW& mode) {
  return std::to_string(mode.dmPelsWidth) + "x" + std::to_string(mode.dmPelsHeight) + " at " +
         std::to_string(mode.dmPosition.x) + "," + std::to_string(mode.dmPosition.y);
}

}  // namespace

GdiGrabber::GdiGrabber(std::size_t poolSize, std::wstring device)
    : device_(std::move(device)), pool_(poolSize < 2 ? 2 : poolSize, nullptr) {
  modeKnown_ = currentMode(device_, &mode_);
  if (screen_.get() == nullptr) {
    failure_ = "cannot get the screen's device context (GetDC error " + std::to_string(::GetLastError()) + ")";
    return;
  }
  memory_.reset(::CreateCompatibleDC(screen_.get()));
  if (!memory_) failure_ = "cannot make a memory device context (error " + std::to_string(::GetLastError()) + ")";
}

GdiGrabber::~GdiGrabber() {
  for (DibBuffer* frame : pool_) {
    if (frame != nullptr) common::release(frame);
  }
}

DibBuffer* GdiGrabber::freeFrame(const CapturePlan& plan, std::string* error) {
  for (DibBuffer*& frame : pool_) {
    if (frame != nullptr && (frame == last_ || !common::heldAlone(frame))) continue;
    if (frame != nullptr && frame->width == plan.frameWidth && frame->height == plan.frameHeight) return frame;
    if (frame != nullptr) common::release(frame);
    frame = DibBuffer::create(plan.frameWidth, plan.frameHeight, error);
    return frame;
  }
  return nullptr;
}

common::FrameBuffer* GdiGrabber::grab(const CapturePlan& plan, std::string* error) {
  DibBuffer* frame = freeFrame(plan, error);
  if (frame == nullptr) return nullptr;
  const GrabRect& g = plan.grab;
  const bool inPlace = g.width == plan.frameWidth && g.height == plan.frameHeight;
  if (!inPlace) std::memset(frame->memory(), 0, frame->stride * frame->height);
  if (g.width > 0 && g.height > 0) {
    const HGDIOBJ previous = ::SelectObject(memory_.get(), frame->bitmap());
    const BOOL copied = ::BitBlt(memory_.get(), static_cast<int>(plan.left), static_cast<int>(plan.top),
                                 static_cast<int>(g.width), static_cast<int>(g.height), screen_.get(), g.x, g.y,
                                 SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory_.get(), previous);
    if (!copied) {
      *error = "cannot copy the screen (BitBlt error " + std::to_string(::GetLastError()) + ")";
      return nullptr;
    }
  }
  ::GdiFlush();  // the DIB section holds every pixel before it is read
  // Looked at after the copy: a change during it shows here too.
  if (std::string changed = modeChange(); !changed.empty()) {
    *error = changed;
    return nullptr;
  }
  if (last_ != nullptr && last_->width == frame->width && last_->height == frame->height &&
      std::memcmp(last_->memory(), frame->memory(), frame->stride * frame->height) == 0) {
    return nullptr;
  }
  last_ = frame;
  return frame;
}

std::string GdiGrabber::modeChange() const {
  DEVMODEW now{};
  if (!modeKnown_ || !currentMode(device_, &now)) return "";
  if (now.dmPelsWidth == mode_.dmPelsWidth && now.dmPelsHeight == mode_.dmPelsHeight &&
      now.dmPosition.x == mode_.dmPosition.x && now.dmPosition.y == mode_.dmPosition.y) {
    return "";
  }
  return "display " + narrow(device_) + " changed from " + describe(mode_) + " to " + describe(now);
}

}  // namespace zorsck::win
