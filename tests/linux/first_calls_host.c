/* A host that links only libzorsck. Its first zor_sck_crop comes from eight
 * threads at once; then it crops again until served, for at most 10 s while
 * the answer is "no frame yet" and 1 s while it is -1 (time for the library's
 * lines to come out). Prints the first answers and the last one
 * ("-1 -1 ... / 0") on one line, then the last crop's BGRA rows.
 * usage: first_calls_host X Y W H */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "zorsck.h"

static int32_t x, y, answers[8];
static uint32_t w, h;
static pthread_barrier_t together;

/* One of the racing first crops, the `i`th. */
static void* firstCrop(void* i) {
  uint8_t* out = malloc((size_t)w * h * 4);
  pthread_barrier_wait(&together);
  answers[(intptr_t)i] = zor_sck_crop(0, x, y, w, h, out, NULL, NULL);
  free(out);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  x = atoi(argv[1]), y = atoi(argv[2]), w = (uint32_t)atoi(argv[3]), h = (uint32_t)atoi(argv[4]);
  pthread_t threads[8];
  pthread_barrier_init(&together, NULL, 8);
  for (intptr_t i = 0; i < 8; ++i) pthread_create(&threads[i], NULL, firstCrop, (void*)i);
  for (int i = 0; i < 8; ++i) pthread_join(threads[i], NULL), printf("%d ", answers[i]);
  uint8_t* pixels = malloc((size_t)w * h * 4);
  int32_t last = 1;
  const struct timespec pause = {0, 5000000};
  for (int polls = 0; last != 0 && polls < (last == 1 ? 2000 : 200); ++polls) {
    if ((last = zor_sck_crop(0, x, y, w, h, pixels, NULL, NULL)) != 0) nanosleep(&pause, NULL);
  }
  printf("/ %d\n", last);
  fwrite(pixels, 4, (size_t)w * h, stdout);
  free(pixels);
  return 0;
}
