// The desktop duplication path: IDXGIOutputDuplication hands the output's
// desktop image as a texture each time it changes; the grabbed rectangle is
// copied into one of a small pool of staging textures, mapped for reading
// and held as a frame like any other.
#pragma once

#include <d3d11.h>
#include <dxgi1_2.h>

#include <memory>
#include <string>

#include "platform/windows/win_grabber.h"
#include "platform/windows/win_handles.h"
#include "platform/windows/win_outputs.h"

namespace zorsck::win {

enum class DuplicationOutcome {
  opened,
  unsupported,  // the system cannot duplicate this output: GDI serves it
  failed,       // it could, but not now: the start fails
};

// Opens the duplication of `output` with a pool of `poolSize` frames into
// `grabber`; on anything but `opened`, `why` says why; capture thread.
DuplicationOutcome openDuplication(const Output& output, std::size_t poolSize,
                                   std::unique_ptr<Grabber>* grabber, std::string* why);

// A grabber over `duplication` of `output`, made on `device`; capture thread.
std::unique_ptr<Grabber> makeDuplicationGrabber(const Output& output, std::size_t poolSize,
                                                ComPtr<ID3D11Device> device,
                                                ComPtr<IDXGIOutputDuplication> duplication);

}  // namespace zorsck::win
