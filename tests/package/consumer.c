/*
 * A host built against an installed zorsck. Over the simulated display
 * (--sim) it polls a crop until a frame arrives, checks the pixels against the
 * display's formula, waits for a newer frame and crops that too. Without --sim
 * it only shows that the library links and answers.
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <zorsck.h>

enum { X = 700, Y = 300, W = 5, H = 3 };
static const struct timespec pause2ms = {0, 2000000};

static int fail(const char* what) {
  fprintf(stderr, "consumer: %s\n", what);
  return 1;
}

/* Crops the rectangle until it answers something other than 1, for at most 5 s. */
static int pollCrop(uint8_t* out, uint64_t* ts, uint64_t* seq) {
  int status = 1;
  for (int i = 0; i < 2500 && status == 1; ++i) {
    status = zor_sck_crop(0, X, Y, W, H, out, ts, seq);
    if (status == 1) nanosleep(&pause2ms, NULL);
  }
  return status;
}

/* Whether every pixel of the crop is the simulated display's pixel. */
static int pixelsMatch(const uint8_t* px) {
  for (int j = 0; j < H; ++j) {
    for (int i = 0; i < W; ++i) {
      const uint8_t* p = px + (j * W + i) * 4;
      const int x = X + i, y = Y + j;
      if (p[0] != x % 256 || p[1] != y % 256 || p[2] != (x / 256) % 16 + 16 * ((y / 256) % 16)) return 0;
    }
  }
  return 1;
}

int main(int argc, char** argv) {
  uint8_t px[W * H * 4];
  uint64_t ts = 0, seq = 0, later = 0;
  if (argc < 2 || strcmp(argv[1], "--sim") != 0) {
    printf("consumer: ensure answers %d, seq %llu\n", zor_sck_ensure(0, 60), (unsigned long long)zor_sck_seq());
    return 0;
  }
  if (zor_sck_ensure(0, 60) != 0) return fail("ensure failed");
  if (pollCrop(px, &ts, &seq) != 0) return fail("no frame within 5 s");
  if (seq == 0 || ts == 0 || !pixelsMatch(px)) return fail("first frame: wrong pixels, timestamp or sequence number");
  memset(px, 0, sizeof px);
  for (int i = 0; i < 2500 && zor_sck_seq() <= seq; ++i) nanosleep(&pause2ms, NULL);
  if (pollCrop(px, &ts, &later) != 0 || later <= seq || !pixelsMatch(px)) {
    return fail("no newer frame within 5 s, or wrong pixels in it");
  }
  zor_sck_stop();
  printf("consumer: frames %llu and %llu cropped\n", (unsigned long long)seq, (unsigned long long)later);
  return 0;
}
