// Owned X handles for the X11 benchmarks: a connection, a graphics context and
// an MIT-SHM segment, each released on destruction.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace zorsck::xbench {

// Frees memory that XCB allocated with malloc (replies, errors).
struct XcbFree {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// One connection to the X server named by $DISPLAY; any thread, one at a time.
class XConnection {
 public:
  // Connects to $DISPLAY; check ok() before use.
  XConnection();
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  // True while the connection works.
  bool ok() const;
  xcb_connection_t* get() const { return conn_; }
  // The screen $DISPLAY names, or null.
  const xcb_screen_t* screen() const;

 private:
  xcb_connection_t* conn_ = nullptr;
  int screenIndex_ = 0;
};

// A graphics context on `drawable` with default values, freed on destruction.
class GraphicsContext {
 public:
  // Creates the context; the connection must outlive it.
  GraphicsContext(const XConnection& conn, xcb_drawable_t drawable);
  ~GraphicsContext();
  GraphicsContext(const GraphicsContext&) = delete;
  GraphicsContext& operator=(const GraphicsContext&) = delete;

  xcb_gcontext_t id() const { return gc_; }

 private:
  xcb_connection_t* conn_;
  xcb_gcontext_t gc_;
};

// A System V shared-memory segment of `bytes` that the X server has attached;
// detached from both sides on destruction. The connection must outlive it.
class ShmSegment {
 public:
  // Creates, maps and attaches the segment; check ok(), else error() says why.
  ShmSegment(const XConnection& conn, std::size_t bytes);
  ~ShmSegment();
  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;

  bool ok() const { return attached_; }
  const std::string& error() const { return error_; }
  xcb_shm_seg_t id() const { return seg_; }
  const std::uint8_t* data() const { return data_; }

 private:
  xcb_connection_t* conn_;
  xcb_shm_seg_t seg_ = 0;
  std::uint8_t* data_ = nullptr;
  bool attached_ = false;
  std::string error_;
};

}  // namespace zorsck::xbench
