/*
 * zorsck extensions: this library's own additions beside the five functions
 * of zorsck.h, which they never change. Every name here starts with zorsck_.
 * Like the five, each may be called from any thread, several at once, and
 * none ever waits for the display server. Only zorsck_crop_since starts
 * capture streams (as zor_sck_crop does), and only it waits: never longer
 * than the host asks.
 */
#ifndef ZORSCK_EXT_H
#define ZORSCK_EXT_H

#include <stdint.h>

#include "zorsck.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Flags of zorsck_display. */
#define ZORSCK_DISPLAY_MAIN 1u   /* the display that id 0 names while no stream runs */
#define ZORSCK_DISPLAY_PLACED 2u /* x and y are known (a Wayland portal may not give them) */

/* One display the library serves, as zorsck_displays lists it. */
typedef struct zorsck_display {
  uint32_t id;            /* the id the five functions take for this display */
  uint32_t flags;         /* ZORSCK_DISPLAY_* */
  int32_t x, y;           /* top-left corner on the desktop: points on macOS, pixels
                             elsewhere; 0 unless ZORSCK_DISPLAY_PLACED */
  uint32_t width, height; /* pixels of the display's current mode: what crops address */
  double scale;           /* pixels per point; 1 where the system has no points */
} zorsck_display;

/*
 * Copies the displays the library serves, the main one first, into
 * out[0 .. capacity) and stores in *count how many there are (which may be
 * more than `capacity`; `out` may be null when `capacity` is 0). The answer
 * is at most about one second old: when it is older, or there is none yet, a
 * listing starts in the background and the call answers ZOR_SCK_NO_FRAME_YET
 * (call again). On Wayland the first listing may open the desktop portal's
 * screen-cast session, as a first crop does.
 * Returns ZOR_SCK_OK, ZOR_SCK_NO_FRAME_YET (nothing is written), or
 * ZOR_SCK_ERROR (nothing is written) when `count` is null, `out` is null with
 * `capacity` > 0, capture is unavailable or refused here (as for
 * zor_sck_ensure, a forked child included), or a listing failed within the
 * last second (a line on standard error says why; the next call after that
 * second lists again). Does not count as use for the idle stop.
 */
ZORSCK_API int32_t zorsck_displays(zorsck_display* out, uint32_t capacity, uint32_t* count);

/*
 * The backend in use: "macos", "x11", "wayland", "windows" or "sim"; "" while
 * the Linux library has not chosen yet (a call of zorsck_displays or of the
 * five makes it choose). A static string, never null.
 */
ZORSCK_API const char* zorsck_backend(void);

/*
 * Copies the library's latest diagnostic line (the text it last wrote to
 * standard error, without the "[zorsck] " tag) into `out`, cut to fit and
 * always NUL-terminated when `capacity` > 0, never in the middle of a UTF-8
 * character. Returns the line's full length in bytes (lines are kept up to
 * 1023 bytes), 0 when the library has written none. Answers in a forked
 * child too.
 */
ZORSCK_API uint32_t zorsck_last_message(char* out, uint32_t capacity);

/*
 * The library's clock, in nanoseconds: a mark for zorsck_crop_since. It runs
 * steadily (the wall clock may be set back or forward) and only compares with
 * other readings of this process.
 */
ZORSCK_API uint64_t zorsck_now(void);

/*
 * As zor_sck_crop, but copies only a frame that shows the display as it was
 * at `since` (a reading of zorsck_now) or later: the screen as it is now,
 * for a host that has just acted on it, is
 *
 *     zorsck_crop_since(display, zorsck_now(), x, y, w, h, out, &ts, &seq, 100);
 *
 * The held frame serves when the library can show that nothing was drawn
 * since it was captured; otherwise the stream is asked for a frame at once.
 * On X11 that costs one round trip to the server while the screen is still,
 * and one capture of what was drawn otherwise; elsewhere it is the next
 * frame, or the held one once the display has sent none for two frame
 * intervals after `since` (docs/contract.md). `since` 0 takes any frame.
 *
 * Waits up to `wait_ms` milliseconds for such a frame; with 0 it never waits,
 * and a host polls with the same `since` until the answer is not 1.
 * Returns ZOR_SCK_OK (the rectangle, its timestamp and sequence number are
 * written, and zor_sck_crop_seq can cut more of the same frame), or nothing
 * written and ZOR_SCK_NO_FRAME_YET (no such frame yet: a stream is starting,
 * or the wait ran out), ZOR_SCK_NOT_SERVABLE or ZOR_SCK_ERROR as zor_sck_crop
 * answers them. Counts as use for the idle stop.
 */
ZORSCK_API int32_t zorsck_crop_since(uint32_t display, uint64_t since, int32_t x, int32_t y,
                                     uint32_t w, uint32_t h, uint8_t* out, uint64_t* out_ts,
                                     uint64_t* out_seq, uint32_t wait_ms);

#ifdef __cplusplus
}
#endif

#endif /* ZORSCK_EXT_H */
