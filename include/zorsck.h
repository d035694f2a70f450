/*
 * zorsck: fast, repeated access to rectangles of what a display shows.
 *
 * The library keeps one screen-capture stream of one display running in the
 * background and holds its latest frame. A crop copies a rectangle of that
 * frame, as 32-bit BGRA pixels, into the caller's buffer together with the
 * frame's timestamp and sequence number. No call ever waits for the stream:
 * a positive status means "not now, call again". Every function may be called
 * from any thread, several at once. There is nothing to initialise or free.
 *
 * Coordinates are display pixels (the physical pixels of the display's current
 * mode), origin at the display's top-left corner, y growing downward.
 * Output layout: rows top to bottom, each exactly w * 4 bytes (B, G, R, A),
 * no padding; `out` must hold w * h * 4 bytes.
 */
#ifndef ZORSCK_H
#define ZORSCK_H

#include <stdint.h>

/* On Windows a host that links the library statically defines ZORSCK_STATIC. */
#if defined(_WIN32) && defined(ZORSCK_BUILDING_LIBRARY)
#define ZORSCK_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(ZORSCK_STATIC)
#define ZORSCK_API __declspec(dllimport)
#elif defined(ZORSCK_BUILDING_LIBRARY) && (defined(__GNUC__) || defined(__clang__))
#define ZORSCK_API __attribute__((visibility("default")))
#else
#define ZORSCK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of zor_sck_ensure, zor_sck_crop and zor_sck_crop_seq. */
#define ZOR_SCK_OK 0                /* done: pixels copied (crops), call taken (ensure) */
#define ZOR_SCK_NO_FRAME_YET 1      /* a stream is starting or has no frame yet: call again */
#define ZOR_SCK_NOT_SERVABLE 2      /* rectangle outside the frame, another display, or too large */
#define ZOR_SCK_FRAME_GONE 3        /* crop_seq: that frame is no longer the served one */
#define ZOR_SCK_ERROR (-1)          /* null out, frame memory not accessible, capture unavailable
                                       (macOS < 12.3, no display), refused by the user, or
                                       stopped by the user (see zor_sck_ensure) */

/*
 * Keeps the stream on `display` (0: any) and arms the idle stop: a stream that
 * nobody has used for more than 5 seconds is stopped. A running stream on
 * another display is stopped; the next crop starts one for its display. Never
 * starts a stream itself. `fps` is accepted and not used.
 * After the user stopped the capture from the system's controls, every call
 * but zor_sck_seq answers ZOR_SCK_ERROR until the host calls zor_sck_ensure or
 * zor_sck_stop. While the user has not allowed screen recording, ensure and
 * the crops answer ZOR_SCK_ERROR; the permission is looked at again (never
 * prompting) every 5 seconds.
 * Returns ZOR_SCK_OK, or ZOR_SCK_ERROR when capture is unavailable or refused.
 */
ZORSCK_API int32_t zor_sck_ensure(uint32_t display, int32_t fps);

/*
 * Copies the w x h rectangle at (x, y) of the latest frame of `display` (0: the
 * main display, or whichever the stream shows) into `out`; on success stores
 * the frame's timestamp (ms since 1970, UTC) in *outTs and its sequence number
 * in *outSeq where those are not null. The first call starts the stream and
 * answers ZOR_SCK_NO_FRAME_YET; poll until ZOR_SCK_OK. Nothing is written on
 * any status other than ZOR_SCK_OK.
 */
ZORSCK_API int32_t zor_sck_crop(uint32_t display, int32_t x, int32_t y, uint32_t w, uint32_t h,
                                uint8_t* out, uint64_t* outTs, uint64_t* outSeq);

/*
 * Copies another rectangle of the very frame that the latest successful
 * zor_sck_crop served, named by its sequence number `seq`. Answers
 * ZOR_SCK_FRAME_GONE once a newer frame has been served or the stream ended,
 * ZOR_SCK_NOT_SERVABLE for a rectangle outside that frame. Never starts a stream.
 */
ZORSCK_API int32_t zor_sck_crop_seq(uint32_t display, uint64_t seq, int32_t x, int32_t y,
                                    uint32_t w, uint32_t h, uint8_t* out, uint64_t* outTs,
                                    uint64_t* outSeq);

/*
 * The sequence number of the latest frame received (0 before the first): a
 * cheap way to learn whether a newer frame has arrived. Does not count as use
 * for the idle stop.
 */
ZORSCK_API uint64_t zor_sck_seq(void);

/* Stops the stream now; the next crop starts a new one. Safe at any time. */
ZORSCK_API void zor_sck_stop(void);

#ifdef __cplusplus
}
#endif

#endif /* ZORSCK_H */
