// The GDI path: BitBlt from the screen's device context into frames whose
// pixels live in DIB sections, and the frame handed out only when its pixels
// differ from the last one handed out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common/frame_buffer.h"
#include "platform/windows/win_grabber.h"
#include "platform/windows/win_handles.h"

namespace zorsck::win {

// A frame of 32-bit pixels, rows top to bottom, in a DIB section.
class DibBuffer : public common::FrameBuffer {
 public:
  // A w x h frame; null with `error` filled when the system refuses; capture thread.
  static DibBuffer* create(std::uint32_t width, std::uint32_t height, std::string* error);
  HGDIOBJ bitmap() const { return bitmap_.get(); }
  std::uint8_t* memory() const { return memory_; }

 private:
  DibBuffer() = default;
  GdiObject bitmap_;
  std::uint8_t* memory_ = nullptr;
};

class GdiGrabber : public Grabber {
 public:
  // Takes the screen's device context and the mode of `device`, the GDI
  // name of the output captured; check failure(); capture thread.
  GdiGrabber(std::size_t poolSize, std::wstring device);
  // Gives up the pool's references; frames still held elsewhere live on; capture thread.
  ~GdiGrabber() override;
  GdiGrabber(const GdiGrabber&) = delete;
  GdiGrabber& operator=(const GdiGrabber&) = delete;

  // Why the grabber cannot work, or ""; capture thread.
  const std::string& failure() const { return failure_; }
  // Grabs at once; a frame is new when its pixels differ from the last frame
  // returned (or there was none); capture thread.
  common::FrameBuffer* grab(const CapturePlan& plan, std::string* error) override;
  // GDI cannot wait for drawing: grabs are paced by the frame interval; any thread.
  bool waitsForChanges() const override { return false; }

 private:
  // A frame of the plan's size that nobody but the pool holds and that is
  // not the last one returned; null when there is none; capture thread.
  DibBuffer* freeFrame(const CapturePlan& plan, std::string* error);
  // How the output's mode (size and place) differs from the one at the
  // start, or "": the outputs are listed once a second only, and a frame
  // grabbed after a mode change shows another place; capture thread.
  std::string modeChange() const;

  ScreenDc screen_;
  MemoryDc memory_;
  std::string failure_;
  std::wstring device_;
  DEVMODEW mode_{};          // the output's mode at the start
  bool modeKnown_ = false;  // the system told it
  std::vector<DibBuffer*> pool_;  // the pool's references; null until first needed
  DibBuffer* last_ = nullptr;     // the frame last returned, one of pool_
};

}  // namespace zorsck::win
