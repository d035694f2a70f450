/* zorsck-wayland-pattern: shows the test pattern (pattern.h) in a window with
 * app_id zorsck-pattern on $WAYLAND_DISPLAY until it is killed or the
 * compositor goes. Prints "shown" once the compositor has the first frame. */
#define _GNU_SOURCE
#include <stdio.h>
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

/* A shared-memory buffer holding the pattern; NULL on failure; main thread. */
static struct wl_buffer* pattern_buffer(void) {
  const int stride = kPatternW * 4, size = stride * kPatternH;
  const int fd = memfd_create("zorsck-pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) return NULL;
  uint32_t* px = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (px == MAP_FAILED) return NULL;
  for (uint32_t y = 0; y < kPatternH; ++y)
    for (uint32_t x = 0; x < kPatternW; ++x) px[y * kPatternW + x] = patternPixel(x, y);
  munmap(px, size);
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  struct wl_buffer* b = wl_shm_pool_create_buffer(pool, 0, kPatternW, kPatternH, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return b;
}

/* Maps the window, then serves the compositor until the connection ends; main thread. */
int main(void) {
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
  struct wl_buffer* buffer = pattern_buffer();
  if (!buffer) return fprintf(stderr, "zorsck-wayland-pattern: no buffer\n"), 1;
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, kPatternW, kPatternH);
  wl_surface_commit(surface);
  if (wl_display_roundtrip(display) < 0) return 1;
  printf("shown\n");
  fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
