/*
 * A PNG writer with no library behind it, so the example builds wherever the
 * C runtime does (every architecture of a universal Mac build included). The
 * image data is stored, not compressed: files are larger than a compressor's,
 * and any PNG reader opens them.
 */
#ifndef ZORSCK_EXAMPLES_PNG_WRITE_H
#define ZORSCK_EXAMPLES_PNG_WRITE_H

#include <stdint.h>

/* Writes w x h BGRA pixels (rows of w * 4 bytes) to `path` as an 8-bit RGB PNG
 * (screen content is opaque, so the alpha byte is left out); 0 on success,
 * -1 with a line on standard error otherwise. */
int png_write_bgra(const char* path, const uint8_t* bgra, uint32_t w, uint32_t h);

#endif
