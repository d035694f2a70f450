// Counts of calls and result codes, and the record of failed checks, shared by
// every thread of the stress run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zorsck::stress {

enum class Fn { ensure, crop, cropSeq, seq, stop };
inline constexpr int kFunctions = 5;

// The exported name of `fn`; any thread.
const char* fnName(Fn fn);

// Counts one call of `fn` that answered `code` (0 for seq and stop); any thread.
void countCall(Fn fn, std::int32_t code);

// Records a failed check and prints it (the first few in full); any thread.
void fail(const std::string& message);

// Number of failed checks so far; any thread.
std::uint64_t failures();

// Total calls made of `fn`; any thread.
std::uint64_t callsOf(Fn fn);

// Calls of `fn` that answered `code`; any thread.
std::uint64_t answersOf(Fn fn, std::int32_t code);

// Notes that some crop or crop_seq answered 0 just now; any thread.
void noteServed();

// The longest time between two answers of 0 so far, or since the last one
// until now, in ms; any thread.
double longestUnservedMs();

// Prints calls and codes per function; main thread.
void printCalls(std::FILE* to);

}  // namespace zorsck::stress
