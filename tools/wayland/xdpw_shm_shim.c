/* Preloaded into xdg-desktop-portal-wlr 0.6 to 0.7.1, which refuse to start a
 * cast unless the compositor's screencopy offers a DMA-BUF format. On a machine
 * without a GPU (pixman renderer) sway never does; this shim reports the shared
 * memory format as a DMA-BUF one as well, and the portal then casts through
 * shared memory as it would anyway. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
const char* wl_proxy_get_class(struct wl_proxy* proxy);

/* The zwlr_screencopy_frame_v1 listener, in protocol order (version 3). */
struct frame_listener {
  void (*buffer)(void*, void*, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*flags)(void*, void*, uint32_t);
  void (*ready)(void*, void*, uint32_t, uint32_t, uint32_t);
  void (*failed)(void*, void*);
  void (*damage)(void*, void*, uint32_t, uint32_t, uint32_t, uint32_t);
  void (*linux_dmabuf)(void*, void*, uint32_t, uint32_t, uint32_t);
  void (*buffer_done)(void*, void*);
};
static struct frame_listener portal;

/* wl_shm format to DRM fourcc: only ARGB8888 and XRGB8888 differ. */
static uint32_t drm_format(uint32_t f) { return f == 0 ? 0x34325241 : f == 1 ? 0x34325258 : f; }

/* A shared memory buffer event, followed by the DMA-BUF event the portal waits for. */
static void on_buffer(void* d, void* f, uint32_t format, uint32_t w, uint32_t h, uint32_t stride) {
  portal.buffer(d, f, format, w, h, stride);
  if (portal.linux_dmabuf) portal.linux_dmabuf(d, f, drm_format(format), w, h);
}
static void on_damage(void* d, void* f, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  if (portal.damage) portal.damage(d, f, x, y, w, h);
}
static void on_linux_dmabuf(void* d, void* f, uint32_t format, uint32_t w, uint32_t h) {
  if (portal.linux_dmabuf) portal.linux_dmabuf(d, f, format, w, h);
}
static void on_buffer_done(void* d, void* f) {
  if (portal.buffer_done) portal.buffer_done(d, f);
}

/* Wraps the portal's screencopy frame listener; every other listener passes through. */
int wl_proxy_add_listener(struct wl_proxy* proxy, void (**impl)(void), void* data) {
  static int (*real)(struct wl_proxy*, void (**)(void), void*);
  static struct frame_listener wrapped;
  if (!real) real = (int (*)(struct wl_proxy*, void (**)(void), void*))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
  const char* name = wl_proxy_get_class(proxy);
  if (!name || strcmp(name, "zwlr_screencopy_frame_v1") != 0) return real(proxy, impl, data);
  memcpy(&portal, impl, sizeof portal);
  wrapped = portal;
  wrapped.buffer = on_buffer;
  wrapped.damage = on_damage;
  wrapped.linux_dmabuf = on_linux_dmabuf;
  wrapped.buffer_done = on_buffer_done;
  return real(proxy, (void (**)(void))&wrapped, data);
}
