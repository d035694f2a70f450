// The two pixel-serving operations behind zor_sck_crop and zor_sck_crop_seq.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zorsck {

// Copies a rectangle of the latest frame into `out`, starting or widening the
// stream as needed; records the frame as the served one. Returns a ZOR_SCK_*
// status. Host thread.
std::int32_t crop(platform::DisplayId display, std::int32_t x, std::int32_t y, std::uint32_t w,
                  std::uint32_t h, std::uint8_t* out, std::uint64_t* outTs, std::uint64_t* outSeq);

// Copies a rectangle of the served frame numbered `seq` into `out`. Returns a
// ZOR_SCK_* status. Host thread.
std::int32_t cropSeq(platform::DisplayId display, std::uint64_t seq, std::int32_t x,
                     std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint8_t* out,
                     std::uint64_t* outTs, std::uint64_t* outSeq);

}  // namespace zorsck
