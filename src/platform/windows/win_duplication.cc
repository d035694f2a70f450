// Desktop duplication: AcquireNextFrame waits up to one frame interval;
// a timeout or a frame that moved only the pointer brings no frame, nor does
// one whose dirty and moved rectangles all miss the grabbed rectangle.
// ACCESS_LOST (a mode change, a full-screen program, the secure desktop)
// ends the stream; the next start opens a new duplication.
#include "platform/windows/win_duplication.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/mutex.h"
#include "platform/windows/win_handles.h"

namespace zorsck::win {
namespace {

// "0x887A0022" for an HRESULT; any thread.
std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// A frame in a staging texture, mapped for reading while it is handed out.
class StagingBuffer : public common::FrameBuffer {
 public:
  StagingBuffer(ComPtr<ID3D11DeviceContext> context, ComPtr<ID3D11Texture2D> texture)
      : context_(std::move(context)), texture_(std::move(texture)) {}
  // Unmaps the texture; on the thread that lets go of the last reference,
  // after the capture thread has let go of its own.
  ~StagingBuffer() override { unmap(); }

  ID3D11Texture2D* texture() const { return texture_.get(); }
  // Maps the texture for the CPU and points the frame at it; false when the
  // device refuses; capture thread, while nobody else holds the frame.
  bool map(std::uint32_t frameWidth, std::uint32_t frameHeight) {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context_->Map(texture_.get(), 0, D3D11_MAP_READ_WRITE, 0, &mapped))) return false;
    mapped_ = true;
    memory_ = static_cast<std::uint8_t*>(mapped.pData);
    pixels = memory_;
    width = frameWidth;
    height = frameHeight;
    stride = mapped.RowPitch;
    alphaUndefined = true;  // the desktop's fourth byte is not promised: crops write 255
    return true;
  }
  // Gives the mapping back, so the GPU may copy into the texture; capture thread.
  void unmap() {
    if (!mapped_) return;
    context_->Unmap(texture_.get(), 0);
    mapped_ = false;
    pixels = memory_ = nullptr;
  }
  std::uint8_t* memory() const { return memory_; }

 private:
  const ComPtr<ID3D11DeviceContext> context_;
  const ComPtr<ID3D11Texture2D> texture_;
  bool mapped_ = false;
  std::uint8_t* memory_ = nullptr;
};

// Releases the acquired frame at the end of its scope.
struct FrameRelease {
  IDXGIOutputDuplication* duplication;
  ~FrameRelease() { duplication->ReleaseFrame(); }
};

class DuplicationGrabber : public Grabber {
 public:
  DuplicationGrabber(const Output& output, std::size_t poolSize, ComPtr<ID3D11Device> device,
                     ComPtr<IDXGIOutputDuplication> duplication)
      : output_(output), device_(std::move(device)), duplication_(std::move(duplication)),
        pool_(std::max<std::size_t>(poolSize, 2), nullptr) {
    device_->GetImmediateContext(context_.put());
    DXGI_OUTDUPL_DESC desc{};
    duplication_->GetDesc(&desc);
    rotation_ = desc.Rotation;
  }
  ~DuplicationGrabber() override {
    for (StagingBuffer* frame : pool_) {
      if (frame != nullptr) common::release(frame);
    }
  }
  DuplicationGrabber(const DuplicationGrabber&) = delete;
  DuplicationGrabber& operator=(const DuplicationGrabber&) = delete;

  bool waitsForChanges() const override { return true; }

  common::FrameBuffer* grab(const CapturePlan& plan, std::string* error) override {
    const UINT waitMs = static_cast<UINT>(std::clamp(plan.intervalSeconds * 1000.0, 1.0, 1000.0));
    DXGI_OUTDUPL_FRAME_INFO info{};
    ComPtr<IDXGIResource> resource;
    const HRESULT hr = duplication_->AcquireNextFrame(waitMs, &info, resource.put());
    if (hr == DXGI_ERROR_WAIT_TIMEOUT) return nullptr;
    if (hr == DXGI_ERROR_ACCESS_LOST) {
      *error = "display " + narrow(output_.device) +
               " can no longer be duplicated (a mode change, a full-screen program or the secure desktop)";
      return nullptr;
    }
    if (FAILED(hr)) {
      *error = "cannot take a frame of display " + narrow(output_.device) + " (AcquireNextFrame " + hex(hr) + ")";
      return nullptr;
    }
    const FrameRelease release{duplication_.get()};
    const bool fresh = missed_ || !delivered_ || !samePlace(plan, lastPlan_);
    if (!fresh && (info.LastPresentTime.QuadPart == 0 || !touches(info, sourceBox(plan.grab)))) return nullptr;
    StagingBuffer* frame = freeFrame(plan, error);
    missed_ = frame == nullptr;  // every frame held: this change goes out with the next desktop image
    if (frame == nullptr) return nullptr;
    const ComPtr<ID3D11Texture2D> desktop = resource.as<ID3D11Texture2D>();
    if (!desktop) {
      *error = "the duplicated desktop image is no texture";
      return nullptr;
    }
    frame->unmap();
    const GrabRect& g = plan.grab;
    const bool grabbed = g.width > 0 && g.height > 0;
    if (grabbed && !rotated()) {
      const D3D11_BOX box = sourceBox(g);
      context_->CopySubresourceRegion(frame->texture(), 0, plan.left, plan.top, 0, desktop.get(), 0, &box);
    }
    if (!frame->map(plan.frameWidth, plan.frameHeight) ||
        (grabbed && rotated() && !copyUpright(desktop.get(), plan, *frame, error))) {
      if (error->empty()) *error = "cannot read a frame of display " + narrow(output_.device) + " back from the GPU";
      return nullptr;
    }
    blackenOutside(*frame, plan);
    delivered_ = true;
    lastPlan_ = plan;
    last_ = frame;
    return frame;
  }

 private:
  // True when the output is turned: the duplicated image is not upright; capture thread.
  bool rotated() const {
    return rotation_ != DXGI_MODE_ROTATION_IDENTITY && rotation_ != DXGI_MODE_ROTATION_UNSPECIFIED;
  }

  // Where the upright rectangle `g` of the desktop lies in the duplicated
  // image, which is the output's unturned one; capture thread.
  D3D11_BOX sourceBox(const GrabRect& g) const {
    const UINT x0 = static_cast<UINT>(g.x - output_.x), y0 = static_cast<UINT>(g.y - output_.y);
    const UINT x1 = x0 + g.width, y1 = y0 + g.height, w = output_.width, h = output_.height;
    switch (rotation_) {
      case DXGI_MODE_ROTATION_ROTATE90: return {y0, w - x1, 0, y1, w - x0, 1};
      case DXGI_MODE_ROTATION_ROTATE180: return {w - x1, h - y1, 0, w - x0, h - y0, 1};
      case DXGI_MODE_ROTATION_ROTATE270: return {h - y1, x0, 0, h - y0, x1, 1};
      default: return {x0, y0, 0, x1, y1, 1};
    }
  }

  // Copies the grabbed rectangle of a turned output into the mapped `frame`,
  // turned upright through a staging texture of its own; capture thread.
  bool copyUpright(ID3D11Texture2D* desktop, const CapturePlan& plan, StagingBuffer& frame, std::string* error) {
    const D3D11_BOX box = sourceBox(plan.grab);
    const UINT w = box.right - box.left, h = box.bottom - box.top;
    if (!turned_ || turnedWidth_ != w || turnedHeight_ != h) {
      turned_ = makeTexture(w, h, error);
      turnedWidth_ = w;
      turnedHeight_ = h;
      if (!turned_) return false;
    }
    context_->CopySubresourceRegion(turned_.get(), 0, 0, 0, 0, desktop, 0, &box);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context_->Map(turned_.get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    const auto* source = static_cast<const std::uint8_t*>(mapped.pData);
    const UINT gw = plan.grab.width, gh = plan.grab.height;
    for (UINT j = 0; j < gh; ++j) {
      auto* row = reinterpret_cast<std::uint32_t*>(frame.memory() + (plan.top + j) * frame.stride) + plan.left;
      for (UINT i = 0; i < gw; ++i) {
        UINT sx = i, sy = j;
        if (rotation_ == DXGI_MODE_ROTATION_ROTATE90) sx = j, sy = gw - 1 - i;
        if (rotation_ == DXGI_MODE_ROTATION_ROTATE180) sx = gw - 1 - i, sy = gh - 1 - j;
        if (rotation_ == DXGI_MODE_ROTATION_ROTATE270) sx = gh - 1 - j, sy = i;
        std::memcpy(&row[i], source + sy * mapped.RowPitch + sx * 4, 4);
      }
    }
    context_->Unmap(turned_.get(), 0);
    return true;
  }

  // True when a rectangle the frame drew or moved meets `box` of the duplicated image; capture thread.
  bool touches(const DXGI_OUTDUPL_FRAME_INFO& info, const D3D11_BOX& box) {
    if (info.TotalMetadataBufferSize == 0) return false;  // a new image with nothing drawn: unchanged
    metadata_.resize(info.TotalMetadataBufferSize);
    UINT used = 0;
    std::vector<RECT> rects;
    auto* moves = reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(metadata_.data());
    if (FAILED(duplication_->GetFrameMoveRects(static_cast<UINT>(metadata_.size()), moves, &used))) return true;
    for (UINT i = 0; i < used / sizeof(DXGI_OUTDUPL_MOVE_RECT); ++i) rects.push_back(moves[i].DestinationRect);
    auto* dirty = reinterpret_cast<RECT*>(metadata_.data());
    if (FAILED(duplication_->GetFrameDirtyRects(static_cast<UINT>(metadata_.size()), dirty, &used))) return true;
    rects.insert(rects.end(), dirty, dirty + used / sizeof(RECT));
    const LONG left = static_cast<LONG>(box.left), top = static_cast<LONG>(box.top);
    const LONG right = static_cast<LONG>(box.right), bottom = static_cast<LONG>(box.bottom);
    return std::any_of(rects.begin(), rects.end(), [&](const RECT& r) {
      return r.left < right && left < r.right && r.top < bottom && top < r.bottom;
    });
  }

  // A frame of the plan's size that only the pool holds and that is not the
  // last one returned; null when there is none; capture thread.
  StagingBuffer* freeFrame(const CapturePlan& plan, std::string* error) {
    for (StagingBuffer*& frame : pool_) {
      if (frame != nullptr && (frame == last_ || !common::heldAlone(frame))) continue;
      if (frame != nullptr && frame->width == plan.frameWidth && frame->height == plan.frameHeight) return frame;
      if (frame != nullptr) common::release(frame);
      frame = makeFrame(plan, error);
      return frame;
    }
    return nullptr;
  }

  // A frame of the plan's size in a staging texture; null with `error` filled on refusal; capture thread.
  StagingBuffer* makeFrame(const CapturePlan& plan, std::string* error) {
    ComPtr<ID3D11Texture2D> texture = makeTexture(plan.frameWidth, plan.frameHeight, error);
    return texture ? new StagingBuffer(context_, std::move(texture)) : nullptr;
  }

  // A staging texture of `width` x `height` that the CPU reads and writes;
  // null with `error` filled on refusal; capture thread.
  ComPtr<ID3D11Texture2D> makeTexture(UINT width, UINT height, std::string* error) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = std::max<UINT>(width, 1);
    desc.Height = std::max<UINT>(height, 1);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    ComPtr<ID3D11Texture2D> texture;
    const HRESULT hr = device_->CreateTexture2D(&desc, nullptr, texture.put());
    if (FAILED(hr)) {
      *error = "cannot make a " + std::to_string(width) + "x" + std::to_string(height) + " staging texture (" +
               hex(hr) + ")";
      texture.reset();
    }
    return texture;
  }

  // Blacks out what of the frame lies off the output; capture thread.
  static void blackenOutside(StagingBuffer& frame, const CapturePlan& plan) {
    const GrabRect& g = plan.grab;
    if (g.width == plan.frameWidth && g.height == plan.frameHeight) return;
    for (std::uint32_t r = 0; r < plan.frameHeight; ++r) {
      std::uint8_t* row = frame.memory() + r * frame.stride;
      const bool inside = g.height > 0 && r >= plan.top && r < plan.top + g.height;
      if (!inside) {
        std::memset(row, 0, std::size_t{plan.frameWidth} * 4);
        continue;
      }
      std::memset(row, 0, std::size_t{plan.left} * 4);
      const std::size_t end = std::size_t{plan.left} + g.width;
      std::memset(row + end * 4, 0, (plan.frameWidth - end) * 4);
    }
  }

  const Output output_;
  const ComPtr<ID3D11Device> device_;
  ComPtr<ID3D11DeviceContext> context_;
  const ComPtr<IDXGIOutputDuplication> duplication_;
  std::vector<StagingBuffer*> pool_;  // the pool's references; null until first needed
  StagingBuffer* last_ = nullptr;     // the frame last returned, one of pool_
  bool delivered_ = false;
  bool missed_ = false;  // a change of the rectangle found every frame held
  CapturePlan lastPlan_;
  std::vector<std::uint8_t> metadata_;
  DXGI_MODE_ROTATION rotation_ = DXGI_MODE_ROTATION_IDENTITY;
  ComPtr<ID3D11Texture2D> turned_;  // the grabbed rectangle as duplicated, when the output is turned
  UINT turnedWidth_ = 0, turnedHeight_ = 0;
};

// The adapter and DXGI output that show `output`; false when none does; capture thread.
bool findDxgiOutput(const Output& output, ComPtr<IDXGIAdapter1>* adapterOut, ComPtr<IDXGIOutput1>* out,
                    DXGI_OUTPUT_DESC* descOut) {
  const ComPtr<IDXGIFactory1> factory = dxgiFactory();
  if (!factory) return false;
  ComPtr<IDXGIAdapter1> adapter;
  for (UINT a = 0; factory->EnumAdapters1(a, adapter.put()) != DXGI_ERROR_NOT_FOUND; ++a) {
    ComPtr<IDXGIOutput> candidate;
    for (UINT o = 0; adapter->EnumOutputs(o, candidate.put()) != DXGI_ERROR_NOT_FOUND; ++o) {
      DXGI_OUTPUT_DESC desc{};
      if (FAILED(candidate->GetDesc(&desc)) || output.device != desc.DeviceName) continue;
      *adapterOut = adapter;
      *out = candidate.as<IDXGIOutput1>();
      *descOut = desc;
      return static_cast<bool>(*out);
    }
  }
  return false;
}

// Why the system has no duplication at all (no Direct3D 11 device, or
// DuplicateOutput not implemented), once it said so: it says so for the rest
// of the session, and asking costs a device each time. Never freed.
Mutex& gVerdictMu = *new Mutex;
std::string* gNoDuplication GUARDED_BY(gVerdictMu) = nullptr;

// Keeps `why` as the session's verdict and returns `unsupported`; capture thread.
DuplicationOutcome noDuplication(const std::string& why) {
  MutexLock lock(&gVerdictMu);
  if (gNoDuplication == nullptr) gNoDuplication = new std::string(why);
  return DuplicationOutcome::unsupported;
}

}  // namespace

DuplicationOutcome openDuplication(const Output& output, std::size_t poolSize, std::unique_ptr<Grabber>* grabber,
                                   std::string* why) {
  {
    MutexLock lock(&gVerdictMu);
    if (gNoDuplication != nullptr) {
      *why = *gNoDuplication;
      return DuplicationOutcome::unsupported;
    }
  }
  ComPtr<IDXGIAdapter1> adapter;
  ComPtr<IDXGIOutput1> dxgiOutput;
  DXGI_OUTPUT_DESC desc{};
  if (!findDxgiOutput(output, &adapter, &dxgiOutput, &desc)) {
    *why = "DXGI does not list display " + narrow(output.device) + " as an output with duplication";
    return DuplicationOutcome::unsupported;
  }
  ComPtr<ID3D11Device> device;
  HRESULT hr = ::D3D11CreateDevice(adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                   nullptr, 0, D3D11_SDK_VERSION, device.put(), nullptr, nullptr);
  if (FAILED(hr)) {
    *why = "no Direct3D 11 device on the adapter of display " + narrow(output.device) + " (" + hex(hr) + ")";
    return noDuplication(*why);
  }
  ComPtr<IDXGIOutputDuplication> duplication;
  hr = dxgiOutput->DuplicateOutput(device.get(), duplication.put());
  if (hr == DXGI_ERROR_UNSUPPORTED || hr == E_NOTIMPL) {
    *why = "the system does not duplicate displays (DuplicateOutput " + hex(hr) + ")";
    return noDuplication(*why);
  }
  if (FAILED(hr)) {
    *why = hr == DXGI_ERROR_NOT_CURRENTLY_AVAILABLE
               ? "display " + narrow(output.device) + " is duplicated by too many programs"
               : "cannot duplicate display " + narrow(output.device) + " (DuplicateOutput " + hex(hr) + ")";
    return DuplicationOutcome::failed;
  }
  *grabber = makeDuplicationGrabber(output, poolSize, std::move(device), std::move(duplication));
  return DuplicationOutcome::opened;
}

std::unique_ptr<Grabber> makeDuplicationGrabber(const Output& output, std::size_t poolSize,
                                                ComPtr<ID3D11Device> device,
                                                ComPtr<IDXGIOutputDuplication> duplication) {
  return std::make_unique<DuplicationGrabber>(output, poolSize, std::move(device), std::move(duplication));
}

}  // namespace zorsck::win
