/* zorsck-wayland-pattern [--animate MS]: shows the test pattern (pattern.h) in
 * a window with app_id zorsck-pattern on $WAYLAND_DISPLAY until it is killed or
 * the compositor goes. Prints "shown" once the compositor has the first frame.
 * With --animate, every MS milliseconds change number k (1, 2, ...) paints the
 * window's top-left 16x16 pixels 0x00RRGGBB = k mod 2^24 and prints "k T",
 * T the CLOCK_MONOTONIC nanoseconds at which the compositor was sent it. */
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

/* A shared-memory buffer holding the pattern, its pixels at *pixels; NULL on failure; main thread. */
static struct wl_buffer* pattern_buffer(uint32_t** pixels) {
  const int stride = kPatternW * 4, size = stride * kPatternH;
  const int fd = memfd_create("zorsck-pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) return NULL;
  uint32_t* px = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (px == MAP_FAILED) return NULL;
  for (uint32_t y = 0; y < kPatternH; ++y)
    for (uint32_t x = 0; x < kPatternW; ++x) px[y * kPatternW + x] = patternPixel(x, y);
  *pixels = px;
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  struct wl_buffer* b = wl_shm_pool_create_buffer(pool, 0, kPatternW, kPatternH, stride, WL_SHM_FORMAT_XRGB8888);
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
    for (int x = 0; x < 16; ++x) px[y * kPatternW + x] = k & 0xFFFFFF;
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, 16, 16);
  wl_surface_commit(surface);
  wl_display_flush(display);
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("%u %lld\n", k, (long long)now.tv_sec * 1000000000 + now.tv_nsec);
  fflush(stdout);
}

/* Maps the window, then serves the compositor (and animates) until the connection ends; main thread. */
int main(int argc, char** argv) {
  const int animate = argc == 3 && strcmp(argv[1], "--animate") == 0 ? atoi(argv[2]) : 0;
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
  xdg_toplevel_set_app_id(top, "zorsck-pattern");
  xdg_toplevel_set_min_size(top, kPatternW, kPatternH);
  xdg_toplevel_set_max_size(top, kPatternW, kPatternH);
  wl_surface_commit(surface);
  while (!configured && wl_display_dispatch(display) >= 0) {
  }
  uint32_t* pixels[2];
  struct wl_buffer* buffers[2] = {pattern_buffer(&pixels[0]), pattern_buffer(&pixels[1])};
  struct wl_buffer* buffer = buffers[0];
  if (!buffer || !buffers[1]) return fprintf(stderr, "zorsck-wayland-pattern: no buffer\n"), 1;
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, kPatternW, kPatternH);
  wl_surface_commit(surface);
  if (wl_display_roundtrip(display) < 0) return 1;
  printf("shown\n");
  fflush(stdout);
  struct pollfd fd = {wl_display_get_fd(display), POLLIN, 0};
  long long next = now_ms() + animate;
  for (uint32_t k = 1;;) {  /* two buffers in turn: the compositor reads one while the other is painted */
    wl_display_flush(display);
    const long long left = next - now_ms();
    const int ready = poll(&fd, 1, animate <= 0 ? -1 : left > 0 ? (int)left : 0);
    if (ready > 0 && wl_display_dispatch(display) < 0) return 0;
    if (animate > 0 && now_ms() >= next) {
      show_change(display, surface, buffers[k % 2], pixels[k % 2], k);
      ++k;
      next += animate;
    }
  }
}
