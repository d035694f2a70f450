// The library's whole boundary: five C functions that forward their arguments
// unchanged to the operations behind them, except in a forked child (fork_guard.h).
#include "crop/crop.h"
#include "interface/fork_guard.h"
#include "interface/host_calls.h"
#include "zorsck.h"

extern "C" {

ZORSCK_API int32_t zor_sck_ensure(uint32_t display, int32_t fps) {
  if (!zorsck::callAllowed()) return ZOR_SCK_ERROR;
  return zorsck::ensure(display, fps);
}

ZORSCK_API int32_t zor_sck_crop(uint32_t display, int32_t x, int32_t y, uint32_t w, uint32_t h,
                                uint8_t* out, uint64_t* outTs, uint64_t* outSeq) {
  if (!zorsck::callAllowed()) return ZOR_SCK_ERROR;
  return zorsck::crop(display, x, y, w, h, out, outTs, outSeq);
}

ZORSCK_API int32_t zor_sck_crop_seq(uint32_t display, uint64_t seq, int32_t x, int32_t y,
                                    uint32_t w, uint32_t h, uint8_t* out, uint64_t* outTs,
                                    uint64_t* outSeq) {
  if (!zorsck::callAllowed()) return ZOR_SCK_ERROR;
  return zorsck::cropSeq(display, seq, x, y, w, h, out, outTs, outSeq);
}

ZORSCK_API uint64_t zor_sck_seq(void) {
  return zorsck::latestSequence();
}

ZORSCK_API void zor_sck_stop(void) {
  if (zorsck::callAllowed()) zorsck::stop();
}

}  // extern "C"
