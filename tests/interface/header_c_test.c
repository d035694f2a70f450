/* The public headers compile as C99 and declare the functions with these types
   (a pointer of another type does not compile with warnings as errors). */
#include "zorsck.h"
#include "zorsck_ext.h"

int zorsck_header_c_check(void);

/* The sum of the status codes, once every function has been taken through a
   pointer of its documented type. */
int zorsck_header_c_check(void) {
  int32_t (*ensure)(uint32_t, int32_t) = zor_sck_ensure;
  int32_t (*crop)(uint32_t, int32_t, int32_t, uint32_t, uint32_t, uint8_t*, uint64_t*,
                  uint64_t*) = zor_sck_crop;
  int32_t (*cropSeq)(uint32_t, uint64_t, int32_t, int32_t, uint32_t, uint32_t, uint8_t*,
                     uint64_t*, uint64_t*) = zor_sck_crop_seq;
  uint64_t (*seq)(void) = zor_sck_seq;
  void (*stop)(void) = zor_sck_stop;
  int32_t (*displays)(zorsck_display*, uint32_t, uint32_t*) = zorsck_displays;
  const char* (*backend)(void) = zorsck_backend;
  uint32_t (*lastMessage)(char*, uint32_t) = zorsck_last_message;
  if (!ensure || !crop || !cropSeq || !seq || !stop || !displays || !backend || !lastMessage) return -100;
  return ZOR_SCK_OK + ZOR_SCK_NO_FRAME_YET + ZOR_SCK_NOT_SERVABLE + ZOR_SCK_FRAME_GONE +
         ZOR_SCK_ERROR;
}
