// Reads bytes as a sequence of exported calls and simulated display events and
// checks every answer against what the public header promises. The fuzzer runs
// it on one thread on the manual clock; the stress run on several threads on
// real clocks.
//
// Input layout: one operation code per byte (taken modulo 14), then its
// arguments; past the end every byte reads as 0.
//   0 ensure   display, fps (1 byte, signed)
//   1 crop     display, x, y, w, h, flags
//   2 crop_seq display, pick (mod 4: last served seq, that + 1, zor_sck_seq(),
//              then 8 bytes), x, y, w, h, flags
//   3 seq   4 stop   5 advance (1 byte: < 192 that * 2 ms, < 248 (b - 191) * 20 ms,
//              else 1.5 s)   6 deliver (1 byte: mod 4 == 3 audio)
//   7 fault (kind mod 10 in sim::Fault order, count - 1 mod 3)   8 platform stop
//   9 hold (step mod 4 in sim::Step order, bit 2: hold or not)
//  10 release (step mod 4, bits 2-3: count, 0 for all)   11 settle
//  12 idle jump (wall clock + 5 s + byte * 10 ms)   13 layout (mod 3)
// display: mod 4 gives 0, 1, 2, or 3: the next 4 bytes.
// x, y: mod 8 gives 0-3: 2 bytes mod 1100; 4: -1 - byte; 5: INT32_MAX - byte;
//   6: INT32_MIN + byte; 7: 4 bytes.
// w, h: mod 8 gives 0-3: a byte; 4: 2 bytes mod 1100; 5: 0; 6: UINT32_MAX - byte;
//   7: 4 bytes.
// flags: mod 16 == 0 null out; bit 4 null outTs; bit 5 null outSeq.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zorsck::fuzz {

struct Reader;  // the bytes of one input

class Interpreter {
 public:
  // manual: the only caller, on the manual clock, so a crop must copy the
  // latest frame; otherwise stops, start faults, holds, layout changes and
  // calls for another display take turns over all threads. hz: refresh rate
  // of every display (0: the layout's own).
  Interpreter(bool manual, double hz) : manual_(manual), hz_(hz) {}

  // Runs up to 256 operations read from the bytes; calling thread.
  void run(const std::uint8_t* data, std::size_t size);

  std::atomic<std::uint64_t> progress{0};  // operations finished
  std::atomic<int> operation{-1};          // code of the one under way, -1 between runs

 private:
  // Runs one operation, checking what the call answered; calling thread.
  void step(Reader& in);
  // zor_sck_crop or zor_sck_crop_seq, checked; calling thread.
  void crop(Reader& in, bool sequenced);

  const bool manual_;
  const double hz_;
  // Frame and timestamp (0: not known) of this thread's last crop that copied;
  // the highest frame a crop or crop_seq copied, and the highest latest frame
  // this thread has seen.
  std::uint64_t servedSeq_ = 0, servedTs_ = 0, lastServed_ = 0, lastLatest_ = 0;
  int servedAlpha_ = -1;  // the alpha byte of the frame last served (its display frame), -1: none
};

// Lists display layout `index` (mod 3) with every rate set to `hz` (0: its own); any thread.
void setLayout(int index, double hz);
// Stops the stream and lets the platform settle, then checks that no stream
// runs, no frame is locked and every delivered frame was published; test thread.
void checkQuiet();
// Number of crops and sequenced crops that answered 0; any thread.
std::uint64_t servedCount();
// Reports a broken promise on standard error and aborts; any thread.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorsck::fuzz
