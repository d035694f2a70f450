/*
 * zorsck-crop: crops a rectangle of a display through libzorsck and writes it
 * as a PNG file, following the calling contract a host is expected to keep:
 *
 *   1. zor_sck_ensure for the display, which also arms the idle stop;
 *   2. zor_sck_crop, polled until it answers 0 (1 means "a stream is starting");
 *   3. zor_sck_crop_seq for two more rectangles of that very frame;
 *   4. zor_sck_seq to learn cheaply whether a newer frame has arrived;
 *   5. zor_sck_stop when done.
 *
 * usage: zorsck-crop X Y W H [OUT.png] [DISPLAY]
 * exit status: 0 written, 1 failed, 2 bad arguments, 3 no screen capture here
 */
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "png_write.h"
#include "zorsck.h"

#if defined(_WIN32)
#include <windows.h>

/* Monotonic time in seconds. */
static double now_seconds(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return (double)count.QuadPart / (double)frequency.QuadPart;
}

/* Wall-clock milliseconds since 1970. */
static double wall_ms(void) {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const uint64_t since1601 = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;  /* 100 ns ticks */
  return (double)(since1601 - 116444736000000000ULL) / 1e4;
}

/* Sleeps for the given number of milliseconds. */
static void sleep_ms(long ms) { Sleep((DWORD)ms); }
#else
/* Monotonic time in seconds. */
static double now_seconds(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* Wall-clock milliseconds since 1970. */
static double wall_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double)ts.tv_sec * 1000.0 + (double)ts.tv_nsec / 1e6;
}

/* Sleeps for the given number of milliseconds. */
static void sleep_ms(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
#endif

/* Parses a decimal integer argument within [lo, hi]; exits on anything else. */
static long long parse_arg(const char* text, const char* name, long long lo, long long hi) {
  char* end = NULL;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
    fprintf(stderr, "zorsck-crop: bad %s: %s\n", name, text);
    exit(2);
  }
  return v;
}

int main(int argc, char** argv) {
  if (argc < 5 || argc > 7) {
    fprintf(stderr, "usage: %s X Y W H [OUT.png] [DISPLAY]\n", argv[0]);
    return 2;
  }
  const int32_t x = (int32_t)parse_arg(argv[1], "X", INT32_MIN, INT32_MAX);
  const int32_t y = (int32_t)parse_arg(argv[2], "Y", INT32_MIN, INT32_MAX);
  const uint32_t w = (uint32_t)parse_arg(argv[3], "W", 1, 16384);
  const uint32_t h = (uint32_t)parse_arg(argv[4], "H", 1, 16384);
  const char* out_path = argc > 5 ? argv[5] : "crop.png";
  const uint32_t display = argc > 6 ? (uint32_t)parse_arg(argv[6], "DISPLAY", 0, UINT32_MAX) : 0;

  uint8_t* pixels = malloc((size_t)w * h * 4);
  uint8_t* parts = malloc((size_t)w * h * 4);
  if (!pixels || !parts) {
    fprintf(stderr, "zorsck-crop: out of memory\n");
    return 1;
  }

  if (zor_sck_ensure(display, 60) != ZOR_SCK_OK) {
    fprintf(stderr, "zorsck-crop: no screen capture here (it needs macOS 12.3 or later, Windows 10 "
                    "or later, an X display with MIT-SHM in DISPLAY, or a Wayland desktop's portal)\n");
    return 3;
  }

  /* Poll: the first call starts the stream; later calls answer 0 once a frame is there. */
  uint64_t ts = 0, seq = 0;
  int32_t code = ZOR_SCK_NO_FRAME_YET;
  double took = 0.0;
  const double deadline = now_seconds() + 10.0;
  while (code == ZOR_SCK_NO_FRAME_YET && now_seconds() < deadline) {
    const double t0 = now_seconds();
    code = zor_sck_crop(display, x, y, w, h, pixels, &ts, &seq);
    took = now_seconds() - t0;
    if (code == ZOR_SCK_NO_FRAME_YET) sleep_ms(5);
  }
  if (code != ZOR_SCK_OK) {
    fprintf(stderr, "zorsck-crop: crop answered %d%s\n", code,
            code == ZOR_SCK_NOT_SERVABLE ? " (rectangle outside the display, or no such display?)"
            : code == ZOR_SCK_NO_FRAME_YET ? " (no frame within 10 s)" : "");
    zor_sck_stop();
    return 1;
  }

  /* Two more rectangles of the very same frame: its left and right halves. */
  const uint32_t left_w = w / 2, right_w = w - left_w;
  int same = 1;
  if (left_w > 0) {
    code = zor_sck_crop_seq(display, seq, x, y, left_w, h, parts, NULL, NULL);
    for (uint32_t r = 0; code == ZOR_SCK_OK && r < h; ++r) {
      same &= memcmp(parts + (size_t)r * left_w * 4, pixels + (size_t)r * w * 4,
                     (size_t)left_w * 4) == 0;
    }
    if (code != ZOR_SCK_OK) same = 0;
  }
  code = zor_sck_crop_seq(display, seq, x + (int32_t)left_w, y, right_w, h, parts, NULL, NULL);
  for (uint32_t r = 0; code == ZOR_SCK_OK && r < h; ++r) {
    same &= memcmp(parts + (size_t)r * right_w * 4, pixels + (size_t)r * w * 4 + (size_t)left_w * 4,
                   (size_t)right_w * 4) == 0;
  }
  if (code != ZOR_SCK_OK) same = 0;

  const double age_ms = wall_ms() - (double)ts;
  const uint64_t latest = zor_sck_seq();
  const int written = png_write_bgra(out_path, pixels, w, h);
  zor_sck_stop();

  printf("frame %" PRIu64 " at %" PRIu64 " ms since 1970 (%.1f ms ago)\n", seq, ts, age_ms);
  printf("crop of %" PRIu32 "x%" PRIu32 " at %" PRId32 ",%" PRId32 " took %.1f us\n", w, h, x, y,
         took * 1e6);
  printf("halves of the same frame by sequence number: %s\n", same ? "identical" : "DIFFERENT");
  printf("newer frame since: %s (latest %" PRIu64 ")\n", latest > seq ? "yes" : "no", latest);
  if (written == 0) printf("wrote %s\n", out_path);
  return written == 0 && same ? 0 : 1;
}
