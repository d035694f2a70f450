// The exported calls as the fuzzer makes them, each checked against what the
// public header promises, and the checks of the state between inputs.
#pragma once

#include <cstdint>

#include "fuzz_input.h"

namespace zorsck::fuzz {

// The largest frame any simulated display can deliver, in pixels.
inline constexpr std::uint32_t kMaxFrameWidth = 640;
inline constexpr std::uint32_t kMaxFrameHeight = 480;

// What one input has seen so far; cleared at its start.
struct InputTrack {
  bool served = false;              // a plain crop answered 0 with a known seq
  std::uint64_t servedSeq = 0;      // its sequence number
  bool servedTsKnown = false;       // its timestamp was handed back
  std::uint64_t servedTs = 0;       // and is this
  bool nullBaseInjected = false;    // frame memory may be inaccessible from now on
};

// Writes the message to the saved standard error and aborts; fuzz thread.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Keeps a copy of standard error for fail(), before libFuzzer may close it; fuzz thread.
void saveReportFd();

// zor_sck_ensure with fuzzed arguments; fuzz thread.
void ensureCall(Input& in);
// zor_sck_crop with fuzzed arguments; fuzz thread.
void cropCall(Input& in, InputTrack& track);
// zor_sck_crop_seq with the last served seq or a fuzzed one; fuzz thread.
void cropSeqCall(Input& in, InputTrack& track);
// zor_sck_seq, checked never to go back; fuzz thread.
void seqCall();

// Checks the state after the baseline (stop and settle, nothing held); fuzz thread.
void checkBaseline();
// Checks what must hold after every step; fuzz thread.
void checkStep();

}  // namespace zorsck::fuzz
