#include "stream/display_list.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "base/mutex.h"
#include "state/capture_state.h"
#include "state/log.h"
#include "stream/capture_halt.h"
#include "stream/display_geometry.h"
#include "zorsck.h"

namespace zorsck {
namespace {

// The latest listing and the one that runs. Never destroyed: a listing's
// completion may come while the process exits.
struct Listing {
  Mutex lock;
  std::vector<zorsck_display> rows GUARDED_BY(lock);
  bool listed GUARDED_BY(lock) = false;         // `rows` hold a listing
  double listedAt GUARDED_BY(lock) = 0.0;       // host-clock seconds it completed
  std::uint64_t running GUARDED_BY(lock) = 0;   // number of the listing in flight; 0: none
  std::uint64_t made GUARDED_BY(lock) = 0;      // listings begun
  double runningSince GUARDED_BY(lock) = 0.0;
  // After a failed listing no other begins, and calls answer an error, before this.
  double failedUntil GUARDED_BY(lock) = -std::numeric_limits<double>::infinity();
};
Listing& listing = *new Listing;

// The displays of `content` with what the platform says of each now, the main
// display first, then in the platform's order. On a platform thread.
std::vector<zorsck_display> rowsOf(const platform::ShareableContent& content) {
  const platform::DisplayId main = platform::mainDisplayId();
  std::vector<zorsck_display> rows;
  for (const platform::DisplayRef& display : content.displays) {
    if (!display) continue;
    zorsck_display row{};
    row.id = platform::displayId(*display);
    const DisplayGeometry g = measureDisplay(row.id);
    row.width = static_cast<std::uint32_t>(std::max<std::int64_t>(g.px.w, 0));
    row.height = static_cast<std::uint32_t>(std::max<std::int64_t>(g.px.h, 0));
    row.scale = g.scale;
    if (row.id == main) row.flags |= ZORSCK_DISPLAY_MAIN;
    if (platform::displayPlace(row.id, &row.x, &row.y)) row.flags |= ZORSCK_DISPLAY_PLACED;
    rows.push_back(row);
  }
  std::stable_partition(rows.begin(), rows.end(),
                        [](const zorsck_display& r) { return (r.flags & ZORSCK_DISPLAY_MAIN) != 0; });
  return rows;
}

// Ends listing `number` (when it is still the one in flight) as failed:
// nothing listed, and no listing for a while. Returns whether it was. With
// the lock held.
bool failListing(std::uint64_t number) REQUIRES(listing.lock) {
  if (listing.running != number) return false;
  listing.running = 0;
  listing.listed = false;
  listing.failedUntil = platform::hostSeconds() + kDisplayListRetrySeconds;
  return true;
}

// Ends listing `number` with `content` or `error`. On a platform thread.
void finishListing(std::uint64_t number, platform::ShareableContentRef content,
                   const platform::Error* error) {
  std::string line;
  if (error != nullptr) {
    // A refusal halts capture as a start's would.
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    line = recordHalt(s, *error).line;
    if (line.empty() && error->kind == platform::ErrorKind::other) {
      line = "cannot list the displays: " + error->description;
    }
  }
  std::vector<zorsck_display> rows;
  if (content && error == nullptr) rows = rowsOf(*content);
  {
    MutexLock hold(&listing.lock);
    if (!content || error != nullptr) {
      if (!failListing(number)) return;
      if (!content && error == nullptr) line = "cannot list the displays: no shareable content";
    } else {
      if (listing.running != number) return;
      listing.running = 0;
      listing.rows = std::move(rows);
      listing.listed = true;
      listing.listedAt = platform::hostSeconds();
    }
  }
  if (!line.empty()) log(line);
}

// Begins listing `number` in the background; false when no thread could be
// started to run it. Host thread, without the lock.
bool beginListing(std::uint64_t number) {
  return platform::runAsync([number] {
    platform::getShareableContent(false, true,
                                  [number](platform::ShareableContentRef content, const platform::Error* error) {
                                    finishListing(number, std::move(content), error);
                                  });
  });
}

}  // namespace

std::int32_t listDisplays(zorsck_display* out, std::uint32_t capacity, std::uint32_t* count) {
  if (count == nullptr || (out == nullptr && capacity > 0)) return ZOR_SCK_ERROR;
  // The gates of a start, without counting as use of the stream.
  if (!platform::osAtLeast(12, 3, 0)) return ZOR_SCK_ERROR;
  {
    CaptureState& s = captureState();
    MutexLock hold(&s.lock);
    if (halted(s)) return ZOR_SCK_ERROR;
  }
  if (!platform::displaysKnown()) return ZOR_SCK_NO_FRAME_YET;

  std::uint64_t number = 0;
  const char* failure = nullptr;
  {
    MutexLock hold(&listing.lock);
    const double now = platform::hostSeconds();
    if (listing.listed && now - listing.listedAt < kDisplayListMaxAge) {
      const std::size_t n = std::min<std::size_t>(capacity, listing.rows.size());
      std::copy_n(listing.rows.begin(), n, out);
      *count = static_cast<std::uint32_t>(listing.rows.size());
      return ZOR_SCK_OK;
    }
    if (now < listing.failedUntil) return ZOR_SCK_ERROR;
    if (listing.running != 0 && now - listing.runningSince < kDisplayListTimeoutSeconds) {
      return ZOR_SCK_NO_FRAME_YET;
    }
    if (listing.running != 0) {
      failListing(listing.running);  // its late completion changes nothing
      failure = "cannot list the displays: the system did not answer within 10 s";
    } else {
      number = listing.running = ++listing.made;
      listing.runningSince = now;
    }
  }
  if (failure == nullptr && beginListing(number)) return ZOR_SCK_NO_FRAME_YET;
  if (failure == nullptr) {
    MutexLock hold(&listing.lock);
    failListing(number);
    failure = "cannot list the displays: the library could not start a thread to run it";
  }
  log(failure);
  return ZOR_SCK_ERROR;
}

}  // namespace zorsck
