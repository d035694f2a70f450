// The displays the library serves, as zorsck_displays lists them: kept from
// a listing made in the background through the platform's shareable content,
// answered while at most kDisplayListMaxAge old. Listing starts no stream and
// is no use of the stream for its idle stop.
#pragma once

#include <cstdint>

#include "zorsck_ext.h"

namespace zorsck {

// How old a listing may be and still answer.
inline constexpr double kDisplayListMaxAge = 1.0;
// How long a failed listing holds the next one back (answering an error meanwhile).
inline constexpr double kDisplayListRetrySeconds = 1.0;
// How long a listing may run before it is given up as failed.
inline constexpr double kDisplayListTimeoutSeconds = 10.0;

// Copies the listed displays, the main one first, into out[0 .. capacity)
// and their number into *count; or begins a listing. Returns ZOR_SCK_OK,
// ZOR_SCK_NO_FRAME_YET (a listing runs: call again) or ZOR_SCK_ERROR (bad
// arguments, capture unavailable or refused, or a listing failed within the
// last kDisplayListRetrySeconds); nothing is written unless OK. Host thread,
// never waits.
std::int32_t listDisplays(zorsck_display* out, std::uint32_t capacity, std::uint32_t* count);

}  // namespace zorsck
