// One host thread of the stress run: calls the five functions at random, with
// valid and with bad arguments, and checks every answer it gets.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <string>

#include "stress/stress_checks.h"
#include "stress/stress_rects.h"
#include "stress/stress_tally.h"
#include "stress/stress_watchdog.h"

namespace zorsck::stress {

class Host {
 public:
  Host(std::uint64_t seed, bool regionMode, CallSlot& slot)
      : rng_(seed), regionMode_(regionMode), slot_(slot) {}

  // Makes random calls until `running` turns false; host thread.
  void run(const std::atomic<bool>& running);

 private:
  // One crop or crop_seq call to make, with the codes it may answer.
  struct Request {
    Fn fn = Fn::crop;
    std::uint32_t display = 0;
    std::uint64_t seq = 0;
    Rect rect;
    bool nullOut = false;
    bool giveTs = true;
    bool giveSeq = true;
    unsigned allowed = 0;  // bit (code + 1) set for each code allowed
  };
  // What it answered, with the wall clock and frame count read right after.
  struct Answer {
    std::int32_t code = 0;
    std::uint64_t ts = kOutSentinel;
    std::uint64_t seq = kOutSentinel;
    std::uint64_t nowMs = 0;
    std::uint64_t framesAfter = 0;
  };

  // Picks and makes one call; host thread.
  void step();
  // A crop inside the display, sometimes followed by crop_seq calls on its frame; host thread.
  void cropInside();
  // A crop that cannot copy: null out, outside rectangles, unknown displays; host thread.
  void cropBad();
  // crop_seq calls on the frame of `seq` that this thread's crop was served; host thread.
  void cropSameFrame(std::uint64_t seq, int count);
  // crop_seq with null out, stale, future or random numbers, or outside rectangles; host thread.
  void cropSeqBad();
  // zor_sck_seq, checked against what this thread saw before and the frames delivered; host thread.
  void callSeq();
  // zor_sck_ensure for this display, any display, or now and then another one; host thread.
  void callEnsure();
  // zor_sck_stop, when this thread has the turn to disrupt the stream, at times
  // several stops each followed by a crop; host thread.
  void callStop();

  // Makes the call under the watchdog, counts it and checks the answer; a big
  // copy while another thread makes one is cut down to a few rows; host thread.
  Answer call(const Request& asked);
  // Checks an answer other than 0: an allowed code and nothing written; host thread.
  void checkRefused(const Request& request, const Answer& answer, const std::string& what);
  // Checks an answer of 0: pixels, sequence number and timestamp; host thread.
  void checkServed(const Request& request, const Answer& answer, const std::string& what);
  // Checks the sequence number of an answer of 0 and moves the watermarks; host thread.
  void checkSequence(const Request& request, const Answer& answer, const std::string& what);
  // Checks the timestamp of an answer of 0; host thread.
  void checkTimestamp(const Request& request, const Answer& answer, const std::string& what);

  std::mt19937_64 rng_;
  bool regionMode_;
  CallSlot& slot_;
  HostBuffer buffer_;
  std::uint64_t lastServed_ = 0;  // highest number a crop or crop_seq served this thread
  std::uint64_t lastLatest_ = 0;  // highest latest-frame number this thread has seen
  std::uint64_t frameSeq_ = 0;    // frame of this thread's last served crop
  std::uint64_t frameTs_ = 0;     // its timestamp, 0 when not asked for
};

// Largest age, in ms, of a served frame's timestamp seen by any host; any thread.
std::uint64_t largestFrameAgeMs();

}  // namespace zorsck::stress
