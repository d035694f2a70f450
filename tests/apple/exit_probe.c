/* Crops until a frame comes (5 s at most), stops, and returns from main while
 * the stop's completion may still be logging. */
#include <stdint.h>
#include <unistd.h>

#include "zorsck.h"

int main(void) {
  uint8_t pixel[4];
  for (int i = 0; i < 500; ++i) {
    const int32_t code = zor_sck_crop(0, 0, 0, 1, 1, pixel, 0, 0);
    if (code == ZOR_SCK_OK || code == ZOR_SCK_ERROR) break;
    usleep(10000);
  }
  zor_sck_stop();
  return 0;
}
