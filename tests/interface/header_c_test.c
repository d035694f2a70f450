/* The public header compiles as C99 and declares the functions with these types. */
#include "zorsck.h"

typedef int32_t (*EnsureFn)(uint32_t, int32_t);
typedef int32_t (*CropFn)(uint32_t, int32_t, int32_t, uint32_t, uint32_t, uint8_t*, uint64_t*,
                          uint64_t*);
typedef int32_t (*CropSeqFn)(uint32_t, uint64_t, int32_t, int32_t, uint32_t, uint32_t, uint8_t*,
                             uint64_t*, uint64_t*);
typedef uint64_t (*SeqFn)(void);
typedef void (*StopFn)(void);

int zorsck_header_c_check(void);

int zorsck_header_c_check(void) {
  EnsureFn ensure = zor_sck_ensure;
  CropFn crop = zor_sck_crop;
  CropSeqFn cropSeq = zor_sck_crop_seq;
  SeqFn seq = zor_sck_seq;
  StopFn stop = zor_sck_stop;
  int codes[5] = {ZOR_SCK_OK, ZOR_SCK_NO_FRAME_YET, ZOR_SCK_NOT_SERVABLE, ZOR_SCK_FRAME_GONE,
                  ZOR_SCK_ERROR};
  return (ensure && crop && cropSeq && seq && stop) ? codes[0] + codes[1] + codes[2] + codes[3] +
                                                          codes[4]
                                                    : -100;
}
