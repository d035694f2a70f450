/* zorsck-pw-consumer FD NODE SECONDS: the least a screen-cast client can do,
 * the baseline of the Wayland benchmarks. Connects to PipeWire through the
 * portal's remote FD, takes BGRx/BGRA frames of node NODE in shared memory,
 * and gives each buffer straight back. Only reads the test window's change
 * pixel (pattern.h) of each frame. Runs SECONDS from the first frame, then
 * prints one line of JSON: frames, CPU nanoseconds of this process from the
 * first frame to the last, and [k, CLOCK_MONOTONIC ns] when change k was first seen. */
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "pattern.h"

struct consumer {
  struct pw_main_loop* loop;
  struct pw_stream* stream;
  struct spa_video_info_raw format;
  double seconds;
  long long start_ns, start_cpu, last_cpu;
  unsigned frames, seen;
  unsigned last_change;
  long long (*changes)[2];
};

/* The clock `id` in nanoseconds; any thread. */
static long long clock_ns(clockid_t id) {
  struct timespec t;
  clock_gettime(id, &t);
  return (long long)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* Keeps the negotiated size; main thread (the loop's). */
static void on_param_changed(void* data, uint32_t id, const struct spa_pod* param) {
  struct consumer* c = data;
  if (param != NULL && id == SPA_PARAM_Format) spa_format_video_raw_parse(param, &c->format);
}

/* Takes one buffer, notes a new change, gives it back; main thread (the loop's). */
static void on_process(void* data) {
  struct consumer* c = data;
  struct pw_buffer* b = pw_stream_dequeue_buffer(c->stream);
  if (b == NULL) return;
  const struct spa_data* d = &b->buffer->datas[0];
  if (d->data != NULL && d->chunk->size > 0) {
    const long long now = clock_ns(CLOCK_MONOTONIC);
    const int stride = d->chunk->stride;
    const uint8_t* p = (const uint8_t*)d->data + d->chunk->offset + (kPatternY + 8) * stride + (kPatternX + 8) * 4;
    const unsigned k = p[0] | p[1] << 8 | p[2] << 16;
    if (c->frames++ == 0) c->start_ns = now, c->start_cpu = clock_ns(CLOCK_PROCESS_CPUTIME_ID);
    c->last_cpu = clock_ns(CLOCK_PROCESS_CPUTIME_ID);
    if (k != c->last_change && c->seen < 100000) c->changes[c->seen][0] = k, c->changes[c->seen++][1] = now;
    c->last_change = k;
    if (now - c->start_ns > c->seconds * 1e9) pw_main_loop_quit(c->loop);
  }
  pw_stream_queue_buffer(c->stream, b);
}

static const struct pw_stream_events events = {
    PW_VERSION_STREAM_EVENTS, .param_changed = on_param_changed, .process = on_process};

/* Connects, runs the stream until SECONDS have passed since the first frame, prints the figures; main thread. */
int main(int argc, char** argv) {
  if (argc != 4) return fprintf(stderr, "usage: %s FD NODE SECONDS\n", argv[0]), 2;
  pw_init(NULL, NULL);
  struct consumer c = {.seconds = atof(argv[3]), .changes = calloc(100000, sizeof *c.changes)};
  c.loop = pw_main_loop_new(NULL);
  struct pw_context* context = pw_context_new(pw_main_loop_get_loop(c.loop), NULL, 0);
  struct pw_core* core = pw_context_connect_fd(context, atoi(argv[1]), NULL, 0);
  if (core == NULL) return fprintf(stderr, "cannot connect to PipeWire\n"), 1;
  c.stream = pw_stream_new(core, "zorsck-pw-consumer", pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", NULL));
  static struct spa_hook listener;
  pw_stream_add_listener(c.stream, &listener, &events, &c);
  uint8_t buffer[1024];
  struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const struct spa_pod* params[1] = {spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
      SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&SPA_RECTANGLE(1920, 1080), &SPA_RECTANGLE(1, 1), &SPA_RECTANGLE(8192, 8192)),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&SPA_FRACTION(0, 1), &SPA_FRACTION(0, 1), &SPA_FRACTION(1000, 1)))};
  pw_stream_connect(c.stream, PW_DIRECTION_INPUT, (uint32_t)atoi(argv[2]),
                    PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS, params, 1);
  pw_main_loop_run(c.loop);
  printf("{\"frames\": %u, \"cpu_ns\": %lld, \"width\": %u, \"changes\": [", c.frames, c.last_cpu - c.start_cpu, c.format.size.width);
  for (unsigned i = 0; i < c.seen; ++i) printf("%s[%lld, %lld]", i ? ", " : "", c.changes[i][0], c.changes[i][1]);
  printf("]}\n");
  pw_stream_destroy(c.stream);
  pw_core_disconnect(core);
  pw_context_destroy(context);
  pw_main_loop_destroy(c.loop);
  return 0;
}
