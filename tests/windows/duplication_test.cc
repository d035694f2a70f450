// The duplication path against a stand-in IDXGIOutputDuplication that hands
// out real textures of Wine's Direct3D 11 device: the copy into the staging
// pool, the mapping, the black beyond the output, and which answers bring a
// frame, none, or the end of the stream.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "platform/windows/win_capture.h"
#include "platform/windows/win_duplication.h"

namespace zorsck::win {
namespace {

constexpr UINT kWide = 64, kHigh = 48;

// The desktop's pixel at (x, y): blue x, green y, red from `seed`.
std::uint32_t desktopPixel(UINT x, UINT y, std::uint8_t seed) { return x | y << 8 | std::uint32_t{seed} << 16; }

// One answer of AcquireNextFrame: its result, whether the image is new, the rectangle drawn to.
struct Step {
  HRESULT result = S_OK;
  bool presented = true;
  RECT dirty{0, 0, static_cast<LONG>(kWide), static_cast<LONG>(kHigh)};
  std::uint8_t seed = 1;
};

class StandIn : public IDXGIOutputDuplication {
 public:
  StandIn(ID3D11Device* device, std::deque<Step> steps, DXGI_MODE_ROTATION rotation)
      : device_(device), steps_(std::move(steps)), rotation_(rotation) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOTIMPL; }
  void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) override { *desc = {}, desc->Rotation = rotation_; }
  HRESULT STDMETHODCALLTYPE GetFramePointerShape(UINT, void*, UINT*, DXGI_OUTDUPL_POINTER_SHAPE_INFO*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE MapDesktopSurface(DXGI_MAPPED_RECT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnMapDesktopSurface() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReleaseFrame() override { return held_ ? (held_ = false, S_OK) : E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetFrameMoveRects(UINT, DXGI_OUTDUPL_MOVE_RECT*, UINT* used) override {
    return *used = 0, S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrameDirtyRects(UINT size, RECT* rects, UINT* used) override {
    if (size < sizeof(RECT)) return DXGI_ERROR_MORE_DATA;
    return rects[0] = step_.dirty, *used = sizeof(RECT), S_OK;
  }
  HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT, DXGI_OUTDUPL_FRAME_INFO* info, IDXGIResource** out) override {
    step_ = steps_.empty() ? Step{DXGI_ERROR_WAIT_TIMEOUT} : steps_.front();
    if (!steps_.empty()) steps_.pop_front();
    if (FAILED(step_.result)) return step_.result;
    // The output's unturned image: the desktop turned back by the rotation.
    const bool sideways = rotation_ == DXGI_MODE_ROTATION_ROTATE90 || rotation_ == DXGI_MODE_ROTATION_ROTATE270;
    const UINT w = sideways ? kHigh : kWide, h = sideways ? kWide : kHigh;
    std::vector<std::uint32_t> pixels(kWide * kHigh);
    for (UINT i = 0; i < pixels.size(); ++i) {
      const UINT x = i % w, y = i / w;
      pixels[i] = rotation_ == DXGI_MODE_ROTATION_ROTATE90    ? desktopPixel(kWide - 1 - y, x, step_.seed)
                  : rotation_ == DXGI_MODE_ROTATION_ROTATE180 ? desktopPixel(kWide - 1 - x, kHigh - 1 - y, step_.seed)
                  : rotation_ == DXGI_MODE_ROTATION_ROTATE270 ? desktopPixel(y, kHigh - 1 - x, step_.seed)
                                                              : desktopPixel(x, y, step_.seed);
    }
    const D3D11_TEXTURE2D_DESC desc{w, h, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA data{pixels.data(), w * 4, 0};
    ComPtr<ID3D11Texture2D> texture;
    if (FAILED(device_->CreateTexture2D(&desc, &data, texture.put()))) return E_FAIL;
    *info = {};
    info->LastPresentTime.QuadPart = step_.presented ? 1 : 0;
    info->TotalMetadataBufferSize = sizeof(RECT);
    held_ = true;
    return texture->QueryInterface(__uuidof(IDXGIResource), reinterpret_cast<void**>(out));
  }

 private:
  ID3D11Device* device_;
  std::deque<Step> steps_;
  Step step_;
  const DXGI_MODE_ROTATION rotation_;
  ULONG refs_ = 1;
  bool held_ = false;
};

struct Case {
  const char* name;
  std::vector<Step> steps;  // after a first frame, which every case takes
  bool frame;               // the last step brings a frame
  bool fails;               // it ends the stream
  DXGI_MODE_ROTATION rotation = DXGI_MODE_ROTATION_IDENTITY;  // the output's, the dirty rectangles unturned
};

class Duplication : public ::testing::TestWithParam<Case> {};

TEST_P(Duplication, AnswersBringAFrameNoneOrTheEnd) {
  ComPtr<ID3D11Device> device;
  ASSERT_HRESULT_SUCCEEDED(::D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                               D3D11_SDK_VERSION, device.put(), nullptr, nullptr));
  std::deque<Step> steps{Step{}};
  steps.insert(steps.end(), GetParam().steps.begin(), GetParam().steps.end());
  StandIn standIn(device.get(), steps, GetParam().rotation);
  ComPtr<IDXGIOutputDuplication> duplication;
  standIn.AddRef();
  *duplication.put() = &standIn;
  Output output;
  output.width = kWide;
  output.height = kHigh;
  // 32x16 at (40, 8): its 8 right columns lie beyond the output.
  platform::StreamConfiguration config;
  config.sourceRect = {40, 8, 32, 16};
  config.width = 32;
  config.height = 16;
  const CapturePlan plan = planCapture(output, config);
  const auto grabber = makeDuplicationGrabber(output, 2, device, duplication);
  std::string error;
  common::FrameBuffer* frame = grabber->grab(plan, &error);
  for (std::size_t i = 0; i < GetParam().steps.size(); ++i) frame = grabber->grab(plan, &error);
  EXPECT_EQ(frame != nullptr, GetParam().frame);
  EXPECT_EQ(!error.empty(), GetParam().fails) << error;
  if (frame == nullptr) return;
  const std::uint8_t seed = steps.back().seed;
  for (UINT y = 0; y < 16; ++y) {
    for (UINT x = 0; x < 32; ++x) {
      std::uint32_t got;
      std::memcpy(&got, frame->pixels + y * frame->stride + x * 4, 4);
      ASSERT_EQ(got & 0xffffffu, x < 24 ? desktopPixel(40 + x, 8 + y, seed) : 0u) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Duplication,
    ::testing::Values(Case{"first_frame", {}, true, false},
                      Case{"drawn_to", {Step{S_OK, true, {40, 10, 41, 11}, 2}}, true, false},
                      Case{"drawn_elsewhere", {Step{S_OK, true, {0, 0, 8, 8}, 2}}, false, false},
                      Case{"pointer_only", {Step{S_OK, false, {}, 2}}, false, false},
                      Case{"timeout", {Step{DXGI_ERROR_WAIT_TIMEOUT}}, false, false},
                      Case{"access_lost", {Step{DXGI_ERROR_ACCESS_LOST}}, false, true},
                      Case{"turned_90_drawn_to", {Step{S_OK, true, {8, 0, 9, 1}, 2}}, true, false, DXGI_MODE_ROTATION_ROTATE90},
                      Case{"turned_90_elsewhere", {Step{S_OK, true, {40, 10, 41, 11}, 2}}, false, false, DXGI_MODE_ROTATION_ROTATE90},
                      Case{"turned_180", {}, true, false, DXGI_MODE_ROTATION_ROTATE180},
                      Case{"turned_270", {}, true, false, DXGI_MODE_ROTATION_ROTATE270}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorsck::win
