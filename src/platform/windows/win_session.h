// The outputs last listed. Host calls only read what is kept here and never
// wait: the listings run on the worker (the first one is asked for by the
// first call) and on capture threads.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/win_outputs.h"

namespace zorsck::win {

// True once a listing has ended; the first question starts one; any thread, never waits.
bool displaysKnown();

// Has the worker list the outputs again unless that was done within the
// last second; true while that listing runs; any thread, never waits.
bool relistDisplays();

// Lists the outputs and keeps them; false with `error` filled when none can
// be found; a library thread.
bool refreshOutputs(std::vector<Output>* out, std::string* error);

// Keeps `outputs`, listed by a capture thread; capture thread.
void keepOutputs(const std::vector<Output>& outputs);

// The kept output `id` names (0: the primary one); false when there is none; any thread.
bool findOutput(platform::DisplayId id, Output* out);

}  // namespace zorsck::win
