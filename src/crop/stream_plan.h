// What a crop does about the stream before it looks for a frame.
#pragma once

#include <cstdint>

#include "base/geometry.h"

namespace zorsck {

struct StreamPlan {
  enum Action {
    chooseFrame,  // go on to the frame choice, lock still held
    start,        // the state is now start requested: start a stream of `rect` at `fps`
    refuse,       // answer "not servable" and do nothing else
  };
  Action action = chooseFrame;
  std::int32_t fps = 0;
  PixelRect rect;

  static StreamPlan toFrameChoice() { return StreamPlan{}; }
  static StreamPlan refused() {
    StreamPlan plan;
    plan.action = refuse;
    return plan;
  }
  static StreamPlan starting(std::int32_t fps, const PixelRect& rect) {
    StreamPlan plan;
    plan.action = start;
    plan.fps = fps;
    plan.rect = rect;
    return plan;
  }
};

}  // namespace zorsck
