// The two pixel-serving operations behind zor_sck_crop and zor_sck_crop_seq.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zorsck {

// Copies a rectangle of the latest frame into `out`, starting or widening the
// stream as needed; records the frame as the served one. With `since`
// (host-clock seconds, 0: any) only a frame that shows the display as it was
// then or later is copied, and the stream is asked for one when the latest
// does not. Returns a ZOR_SCK_* status. Host thread.
std::int32_t crop(platform::DisplayId display, std::int32_t x, std::int32_t y, std::uint32_t w,
                  std::uint32_t h, std::uint8_t* out, std::uint64_t* outTs, std::uint64_t* outSeq,
                  double since = 0.0);

// As crop with `since`, waiting up to `waitSeconds` (steady clock) for the
// frame while the answer is ZOR_SCK_NO_FRAME_YET. Host thread.
std::int32_t cropSince(platform::DisplayId display, double since, std::int32_t x, std::int32_t y,
                       std::uint32_t w, std::uint32_t h, std::uint8_t* out, std::uint64_t* outTs,
                       std::uint64_t* outSeq, double waitSeconds);

// Copies a rectangle of the served frame numbered `seq` into `out`. Returns a
// ZOR_SCK_* status. Host thread.
std::int32_t cropSeq(platform::DisplayId display, std::uint64_t seq, std::int32_t x,
                     std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint8_t* out,
                     std::uint64_t* outTs, std::uint64_t* outSeq);

}  // namespace zorsck
