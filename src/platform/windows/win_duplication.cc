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
    if (!fresh && (info.LastPresentTime.QuadPart == 0 || !touches(info, plan.grab))) return nullptr;
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
    if (g.width > 0 && g.height > 0) {
      const D3D11_BOX box{static_cast<UINT>(g.x - output_.x), static_cast<UINT>(g.y - output_.y), 0,
                          static_cast<UINT>(g.x - output_.x) + g.width, static_cast<UINT>(g.y - output_.y) + g.height,
                          1};
      context_->CopySubresourceRegion(frame->texture(), 0, plan.left, plan.top, 0, desktop.get(), 0, &box);
    }
    if (!frame->map(plan.frameWidth, plan.frameHeight)) {
      *error = "cannot read a frame of display " + narrow(output_.device) + " back from the GPU";
      return nullptr;
    }
    blackenOutside(*frame, plan);
    delivered_ = true;
    lastPlan_ = plan;
    last_ = frame;
    return frame;
  }

 private:
  // True when a rectangle the frame drew or moved meets `g`; capture thread.
  bool touches(const DXGI_OUTDUPL_FRAME_INFO& info, const GrabRect& g) {
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
    const LONG left = g.x - output_.x, top = g.y - output_.y;
    const LONG right = left + static_cast<LONG>(g.width), bottom = top + static_cast<LONG>(g.height);
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

  // A staging texture of the plan's frame size; null with `error` filled on refusal; capture thread.
  StagingBuffer* makeFrame(const CapturePlan& plan, std::string* error) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = std::max<UINT>(plan.frameWidth, 1);
    desc.Height = std::max<UINT>(plan.frameHeight, 1);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    ComPtr<ID3D11Texture2D> texture;
    const HRESULT hr = device_->CreateTexture2D(&desc, nullptr, texture.put());
    if (FAILED(hr)) {
      *error = "cannot make a " + std::to_string(plan.frameWidth) + "x" + std::to_string(plan.frameHeight) +
               " staging texture (" + hex(hr) + ")";
      return nullptr;
    }
    return new StagingBuffer(context_, std::move(texture));
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
  if (desc.Rotation != DXGI_MODE_ROTATION_IDENTITY && desc.Rotation != DXGI_MODE_ROTATION_UNSPECIFIED) {
    *why = "display " + narrow(output.device) + " is rotated";  // duplication hands its image unrotated
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
