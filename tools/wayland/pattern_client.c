/* zorsck-wayland-pattern [--generations WxH] [--animate MS]: shows the test
 * pattern (pattern.h) in a window with app_id zorsck-pattern on
 * $WAYLAND_DISPLAY until it is killed or the compositor goes. Prints "shown"
 * once the compositor has the first frame.
 * With --generations, the window is W x H with app_id zorsck-generations and
 * shows the numbered pictures of generationPixel instead, starting with 0:
 * each number G read from standard input paints picture G, and "painted G" is
 * printed once the compositor has drawn it.
 * With --animate, every MS milliseconds change number k (1, 2, ...) paints the
 * window's top-left 16x16 pixels 0x00RRGGBB = k mod 2^24 and prints "k T"
 * (not with --generations), T the CLOCK_MONOTONIC nanoseconds at which the
 * compositor was sent it. */
#define _GNU_SOURCE
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "pattern.h"
#include "xdg-shell-client-protocol.h"

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;
static int configured;
static int width = kPatternW, height = kPatternH; /* the window's size */
static int drawn;                                 /* the last painted picture is on screen */
static int generations;                           /* --generations: numbered pictures */

/* Keeps the globals the window needs; on dispatch. */
static void on_global(void* data, struct wl_registry* r, uint32_t name, const char* iface, uint32_t version) {
  (void)data, (void)version;
  if (strcmp(iface, wl_compositor_interface.name) == 0) compositor = wl_registry_bind(r, name, &wl_compositor_interface, 4);
  if (strcmp(iface, wl_shm_interface.name) == 0) shm = wl_registry_bind(r, name, &wl_shm_interface, 1);
  if (strcmp(iface, xdg_wm_base_interface.name) == 0) wm_base = wl_registry_bind(r, name, &xdg_wm_base_interface, 1);
}
/* Ignores globals that go away: the window lives no longer than the compositor; on dispatch. */
static void on_global_remove(void* data, struct wl_registry* r, uint32_t name) { (void)data, (void)r, (void)name; }
static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

/* Answers the compositor's liveness check; on dispatch. */
static void on_ping(void* data, struct xdg_wm_base* b, uint32_t serial) { (void)data, xdg_wm_base_pong(b, serial); }
static const struct xdg_wm_base_listener wm_base_listener = {on_ping};

/* Acknowledges every configuration; the window keeps its own size; on dispatch. */
static void on_configure(void* data, struct xdg_surface* s, uint32_t serial) {
  (void)data, xdg_surface_ack_configure(s, serial), configured = 1;
}
static const struct xdg_surface_listener surface_listener = {on_configure};

/* Notes that the compositor has drawn the frame asked about; on dispatch. */
static void on_frame_done(void* data, struct wl_callback* cb, uint32_t time) {
  (void)data, (void)time, wl_callback_destroy(cb), drawn = 1;
}
static const struct wl_callback_listener frame_listener = {on_frame_done};

/* Paints picture `generation` into `px` (the whole window); main thread. */
static void paint_generation(uint32_t* px, uint32_t generation) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) px[y * width + x] = generationPixel(x, y, generation);
}

/* A shared-memory buffer holding the pattern, its pixels at *pixels; NULL on failure; main thread. */
static struct wl_buffer* pattern_buffer(uint32_t** pixels) {
  const int stride = width * 4, size = stride * height;
  const int fd = memfd_create("zorsck-pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) return NULL;
  uint32_t* px = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (px == MAP_FAILED) return NULL;
  if (generations)
    paint_generation(px, 0);
  else
    for (uint32_t y = 0; y < kPatternH; ++y)
      for (uint32_t x = 0; x < kPatternW; ++x) px[y * kPatternW + x] = patternPixel(x, y);
  *pixels = px;
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  struct wl_buffer* b = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return b;
}

/* CLOCK_MONOTONIC in milliseconds; any thread. */
static long long now_ms(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

/* Paints change `k` into `px` and sends it as the window's next frame; main thread. */
static void show_change(struct wl_display* display, struct wl_surface* surface, struct wl_buffer* buffer,
                        uint32_t* px, uint32_t k) {
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) px[y * width + x] = k & 0xFFFFFF;
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, 16, 16);
  wl_surface_commit(surface);
  wl_display_flush(display);
  if (generations) return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("%u %lld\n", k, (long long)now.tv_sec * 1000000000 + now.tv_nsec);
  fflush(stdout);
}

/* Maps the window, then serves the compositor (and animates) until the connection ends; main thread. */
int main(int argc, char** argv) {
  int animate = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--animate") == 0) animate = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--generations") == 0 && sscanf(argv[i + 1], "%dx%d", &width, &height) == 2) generations = 1;
  }
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return fprintf(stderr, "zorsck-wayland-pattern: no Wayland display\n"), 1;
  wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !wm_base) return fprintf(stderr, "zorsck-wayland-pattern: missing globals\n"), 1;
  xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
  struct wl_surface* surface = wl_compositor_create_surface(compositor);
  struct xdg_surface* xs = xdg_wm_base_get_xdg_surface(wm_base, surface);
  xdg_surface_add_listener(xs, &surface_listener, NULL);
  struct xdg_toplevel* top = xdg_surface_get_toplevel(xs);
  xdg_toplevel_set_app_id(top, generations ? "zorsck-generations" : "zorsck-pattern");
  xdg_toplevel_set_min_size(top, width, height);
  xdg_toplevel_set_max_size(top, width, height);
  wl_surface_commit(surface);
  while (!configured && wl_display_dispatch(display) >= 0) {
  }
  uint32_t* pixels[2];
  struct wl_buffer* buffers[2] = {pattern_buffer(&pixels[0]), pattern_buffer(&pixels[1])};
  if (!buffers[0] || !buffers[1]) return fprintf(stderr, "zorsck-wayland-pattern: no buffer\n"), 1;
  wl_surface_attach(surface, buffers[0], 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, width, height);
  wl_surface_commit(surface);
  if (wl_display_roundtrip(display) < 0) return 1;
  printf("shown\n");
  fflush(stdout);
  struct pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, generations ? POLLIN : 0, 0}};
  long long next = now_ms() + animate;
  uint32_t painted = 0;
  for (uint32_t k = 1;;) {  /* two buffers in turn: the compositor reads one while the other is painted */
    wl_display_flush(display);
    const long long left = next - now_ms();
    const int ready = poll(fds, 2, animate <= 0 ? -1 : left > 0 ? (int)left : 0);
    if (ready > 0 && (fds[0].revents & POLLIN) && wl_display_dispatch(display) < 0) return 0;
    if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP))) return 0;
    if (drawn && painted) {  /* the other buffer is no longer read: it gets the picture too */
      paint_generation(pixels[k % 2], painted);
      printf("painted %u\n", painted), fflush(stdout), painted = 0;
    }
    if (painted == 0 && ready > 0 && fds[1].revents) {
      if (scanf("%u", &painted) != 1) return 0;
      paint_generation(pixels[k % 2], painted);
      wl_surface_attach(surface, buffers[k % 2], 0, 0);
      wl_surface_damage_buffer(surface, 0, 0, width, height);
      drawn = 0;
      wl_callback_add_listener(wl_surface_frame(surface), &frame_listener, NULL);
      wl_surface_commit(surface);
      ++k;
      continue;
    }
    if (animate > 0 && painted == 0 && now_ms() >= next) {
      show_change(display, surface, buffers[k % 2], pixels[k % 2], k);
      ++k;
      next += animate;
    }
  }
}
