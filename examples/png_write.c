/* An 8-bit RGB PNG in three chunks: IHDR, one IDAT holding a zlib stream of
 * stored deflate blocks, IEND. */
#include "png_write.h"

#include <stdio.h>
#include <stdlib.h>

/* Largest payload of one stored deflate block. */
#define STORED_BLOCK_MAX 65535u

/* The file being written, the running CRC of the chunk being written, and
 * what the stored blocks of the image data still need. */
struct png_out {
  FILE* file;
  uint32_t crc;
  int failed;
  uint64_t raw_left;   /* image bytes (filter bytes included) not yet written */
  uint32_t block_left; /* bytes left in the current stored block */
  uint32_t adler_a, adler_b;
};

/* The CRC-32 (ISO 3309, as PNG uses it) of `n` bytes continuing from `crc`. */
static uint32_t crc32_update(uint32_t crc, const uint8_t* p, size_t n) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

/* Writes `n` bytes and adds them to the chunk's CRC. */
static void put(struct png_out* out, const void* p, size_t n) {
  out->crc = crc32_update(out->crc, (const uint8_t*)p, n);
  if (fwrite(p, 1, n, out->file) != n) out->failed = 1;
}

/* Writes `v` as four big-endian bytes, counted in the CRC. */
static void put32(struct png_out* out, uint32_t v) {
  const uint8_t b[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
  put(out, b, 4);
}

/* Starts a chunk of `length` data bytes and type `type`; its CRC starts at the type. */
static void chunk_begin(struct png_out* out, uint32_t length, const char type[4]) {
  put32(out, length);
  out->crc = 0;
  put(out, type, 4);
}

/* Ends a chunk with its CRC. */
static void chunk_end(struct png_out* out) { put32(out, out->crc); }

/* Writes image bytes into the stored blocks, opening a block (final when it
 * holds all that is left) whenever the current one is full. */
static void put_image(struct png_out* out, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out->adler_a = (out->adler_a + p[i]) % 65521u;
    out->adler_b = (out->adler_b + out->adler_a) % 65521u;
  }
  while (n > 0) {
    if (out->block_left == 0) {
      const uint32_t len = out->raw_left > STORED_BLOCK_MAX ? STORED_BLOCK_MAX : (uint32_t)out->raw_left;
      const uint8_t head[5] = {(uint8_t)(out->raw_left == len ? 1 : 0), (uint8_t)len, (uint8_t)(len >> 8),
                               (uint8_t)~len, (uint8_t)(~len >> 8)};
      put(out, head, sizeof head);
      out->block_left = len;
    }
    const size_t take = n < out->block_left ? n : out->block_left;
    put(out, p, take);
    p += take;
    n -= take;
    out->block_left -= (uint32_t)take;
    out->raw_left -= take;
  }
}

int png_write_bgra(const char* path, const uint8_t* bgra, uint32_t w, uint32_t h) {
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const uint64_t raw = (uint64_t)h * (1 + (uint64_t)w * 3);
  const uint64_t blocks = (raw + STORED_BLOCK_MAX - 1) / STORED_BLOCK_MAX;
  const uint64_t idat = 2 + blocks * 5 + raw + 4;
  uint8_t* row = malloc((size_t)w * 3 + 1);
  if (w == 0 || h == 0 || idat > 0x7FFFFFFFu || !row) {
    free(row);
    fprintf(stderr, "png: cannot write a %ux%u image\n", (unsigned)w, (unsigned)h);
    return -1;
  }
  struct png_out out = {fopen(path, "wb"), 0, 0, raw, 0, 1, 0};
  if (!out.file) {
    free(row);
    perror(path);
    return -1;
  }
  put(&out, signature, sizeof signature);

  chunk_begin(&out, 13, "IHDR");
  put32(&out, w);
  put32(&out, h);
  const uint8_t format[5] = {8, 2, 0, 0, 0}; /* 8 bits, RGB, deflate, no filter, no interlace */
  put(&out, format, sizeof format);
  chunk_end(&out);

  chunk_begin(&out, (uint32_t)idat, "IDAT");
  const uint8_t zlib_head[2] = {0x78, 0x01}; /* deflate, 32 KiB window, no dictionary */
  put(&out, zlib_head, sizeof zlib_head);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* src = bgra + (size_t)y * w * 4;
    row[0] = 0; /* filter: none */
    for (uint32_t x = 0; x < w; ++x) {
      row[1 + x * 3] = src[x * 4 + 2];
      row[2 + x * 3] = src[x * 4 + 1];
      row[3 + x * 3] = src[x * 4];
    }
    put_image(&out, row, (size_t)w * 3 + 1);
  }
  put32(&out, (out.adler_b << 16) | out.adler_a);
  chunk_end(&out);

  chunk_begin(&out, 0, "IEND");
  chunk_end(&out);
  free(row);
  const int closed = fclose(out.file);
  if (out.failed || closed != 0) {
    fprintf(stderr, "png: could not write %s\n", path);
    remove(path); /* no truncated image is left behind */
    return -1;
  }
  return 0;
}
