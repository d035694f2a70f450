/* zorsck-wayland-probe cpu|latency|first [SECONDS]: libzorsck.so as a host
 * uses it, on the session bench/run starts, measured as zorsck-pw-consumer is.
 *   cpu      after the first frame, a 1x1 crop every 200 ms for SECONDS: frames
 *            delivered (sequence numbers) and this process's CPU nanoseconds;
 *   latency  crops the test window's change pixel (pattern.h) every 0.1 ms for
 *            SECONDS: [k, CLOCK_MONOTONIC ns] when change k was first seen;
 *   first    milliseconds from the first crop to the first frame.
 * Prints one line of JSON. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "pattern.h"
#include "zorsck.h"

/* The clock `id` in nanoseconds; any thread. */
static long long clock_ns(clockid_t id) {
  struct timespec t;
  clock_gettime(id, &t);
  return (long long)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* The test window's change number in the latest frame, or -1 while there is none; main thread. */
static long long change(void) {
  uint8_t p[4];
  uint64_t ts, seq;
  if (zor_sck_crop(0, kPatternX + 8, kPatternY + 8, 1, 1, p, &ts, &seq) != 0) return -1;
  return p[0] | p[1] << 8 | p[2] << 16;
}

/* Waits for the first frame, then measures as `mode` says and prints the figures; main thread. */
int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  const double seconds = argc > 2 ? atof(argv[2]) : 0;
  if (zor_sck_ensure(0, 60) != 0) return fprintf(stderr, "zor_sck_ensure failed\n"), 1;
  const long long asked = clock_ns(CLOCK_MONOTONIC);
  long long k = -1, t = asked;
  while ((k = change()) < 0 && (t = clock_ns(CLOCK_MONOTONIC)) - asked < 30e9) usleep(200);
  if (k < 0) return fprintf(stderr, "no frame in 30 s\n"), 1;
  if (strcmp(mode, "first") == 0) {
    printf("{\"first_ms\": %.3f}\n", (double)(t - asked) / 1e6);
  } else if (strcmp(mode, "cpu") == 0) {
    const uint64_t seq = zor_sck_seq();
    const long long cpu = clock_ns(CLOCK_PROCESS_CPUTIME_ID), end = t + (long long)(seconds * 1e9);
    while (clock_ns(CLOCK_MONOTONIC) < end) usleep(200000), change();
    printf("{\"frames\": %llu, \"cpu_ns\": %lld}\n", (unsigned long long)(zor_sck_seq() - seq),
           clock_ns(CLOCK_PROCESS_CPUTIME_ID) - cpu);
  } else if (strcmp(mode, "latency") == 0) {
    printf("{\"changes\": [");
    for (long long last = k, end = t + (long long)(seconds * 1e9); (t = clock_ns(CLOCK_MONOTONIC)) < end; usleep(100)) {
      const long long now = change();
      if (now >= 0 && now != last) printf("%s[%lld, %lld]", last == k ? "" : ", ", now, t);
      if (now >= 0) last = now;
    }
    printf("]}\n");
  } else {
    return fprintf(stderr, "usage: %s cpu|latency|first [SECONDS]\n", argv[0]), 2;
  }
  zor_sck_stop();
  return 0;
}
