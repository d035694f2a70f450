// Standard error on Windows through one writer thread and a bounded queue.
#include "state/stderr_writer.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "base/condvar.h"
#include "base/mutex.h"

namespace zorsck {
namespace {

// How long a caller waits for its bytes to go out.
constexpr std::chrono::milliseconds kWriteWait{20};
// How many bytes wait behind a write that does not return before more are dropped.
constexpr std::size_t kQueuedBytesMax = 64 * 1024;

// The queue between the threads that log and the writer. Never destroyed: a
// thread may log while the process exits.
struct Writer {
  Mutex mu;
  CondVar changed;  // a line queued, or one done
  std::deque<std::string> queue GUARDED_BY(mu);
  std::size_t queuedBytes GUARDED_BY(mu) = 0;
  std::uint64_t queued GUARDED_BY(mu) = 0;  // lines ever queued
  std::uint64_t done GUARDED_BY(mu) = 0;    // lines ever written, or refused by the handle
  bool writing GUARDED_BY(mu) = false;  // the writer thread is inside a write
  bool started GUARDED_BY(mu) = false;
  bool failed GUARDED_BY(mu) = false;  // the system started no writer thread
};
Writer& writer = *new Writer;

// Writes all of `line` to the process's standard error handle of the moment,
// with blocking writes; a closed pipe or a missing handle loses it. Writer thread.
void writeWhole(const std::string& line) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  std::size_t sent = 0;
  while (sent < line.size()) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(line.size() - sent, 4096));
    if (!::WriteFile(err, line.data() + sent, piece, &n, nullptr) || n == 0) return;
    sent += n;
  }
}

// Writes the queued lines in order, for the rest of the process. Writer thread.
DWORD WINAPI writeQueued(void*) {
  for (;;) {
    std::string line;
    {
      MutexLock hold(&writer.mu);
      while (writer.queue.empty()) writer.changed.wait(&writer.mu);
      line = std::move(writer.queue.front());
      writer.queue.pop_front();
      writer.queuedBytes -= line.size();
      writer.writing = true;
    }
    writeWhole(line);
    MutexLock hold(&writer.mu);
    writer.writing = false;
    ++writer.done;
    writer.changed.notifyAll();
  }
}

// The local end of a pipe as NtQueryInformationFile's FilePipeLocalInformation
// (24) describes it; only the room left for writes is read.
struct PipeLocalInformation {
  ULONG type, configuration, maximumInstances, currentInstances, inboundQuota, readDataAvailable,
      outboundQuota, writeQuotaAvailable, state, end;
};
using QueryInformationFile = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
using ConsoleSelectionInfo = BOOL(WINAPI*)(CONSOLE_SELECTION_INFO*);
// ntdll's NtQueryInformationFile and kernel32's GetConsoleSelectionInfo, found
// when the writer starts; null where the system lacks them (Wine has no
// GetConsoleSelectionInfo).
QueryInformationFile queryInformationFile = nullptr;
ConsoleSelectionInfo consoleSelectionInfo = nullptr;

// Finds `name` in the loaded module `module`; null when it is not there; any thread.
template <typename Function>
Function lookUp(const wchar_t* module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

// True when writing `size` bytes to `handle` returns without waiting for a
// reader: a file, a console with no selection in progress, or a pipe with
// that much room (a reader's pending read also takes room, so such a pipe
// counts as full). Other devices (a serial port held by flow control) may
// wait. Any thread, also under the loader lock.
bool takesWithoutWaiting(HANDLE handle, std::size_t size) {
  switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK:
      return true;
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      CONSOLE_SELECTION_INFO selection{};
      return ::GetConsoleMode(handle, &mode) && consoleSelectionInfo != nullptr && consoleSelectionInfo(&selection) &&
             (selection.dwFlags & CONSOLE_SELECTION_IN_PROGRESS) == 0;
    }
    case FILE_TYPE_PIPE: {
      PipeLocalInformation pipe{};
      IO_STATUS_BLOCK status{};
      return queryInformationFile != nullptr &&
             queryInformationFile(handle, &status, &pipe, sizeof pipe, 24) >= 0 && pipe.writeQuotaAvailable >= size;
    }
    default:
      return false;
  }
}

// Writes the lines still queued when the process exits, with the writer
// thread gone or idle: those that standard error takes without waiting, in
// order, up to the first it would wait for. Nothing when another thread held
// the queue, or the writer was inside a write, when the exit came: that write
// may never return. Runs from the C runtime's exit handlers: at exit() for a
// host that links the library statically, at the DLL's unload under the
// loader lock otherwise, so it never waits for a thread.
void writeQueuedAtExit() {
  if (!writer.mu.tryLock()) return;
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (!writer.writing && !writer.queue.empty() && err != nullptr && err != INVALID_HANDLE_VALUE &&
         takesWithoutWaiting(err, writer.queue.front().size())) {
    writeWhole(writer.queue.front());
    writer.queuedBytes -= writer.queue.front().size();
    writer.queue.pop_front();
    ++writer.done;
  }
  writer.mu.unlock();
}

// Starts the writer thread once; the library stays mapped from then on, so a
// host's FreeLibrary never unmaps the code it runs. Any thread, never under
// the loader lock (lines are logged from calls and the library's threads only).
bool startWriter() REQUIRES(writer.mu) {
  if (writer.started || writer.failed) return writer.started;
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&writeQueued)), &self);
  // The handle goes at the end of the scope; the thread runs on, detached.
  const std::unique_ptr<void, decltype(&::CloseHandle)> thread(
      ::CreateThread(nullptr, 64 * 1024, &writeQueued, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr),
      &::CloseHandle);
  writer.started = thread != nullptr;
  writer.failed = !writer.started;
  if (writer.started) {
    queryInformationFile = lookUp<QueryInformationFile>(L"ntdll.dll", "NtQueryInformationFile");
    consoleSelectionInfo = lookUp<ConsoleSelectionInfo>(L"kernel32.dll", "GetConsoleSelectionInfo");
    std::atexit(&writeQueuedAtExit);
  }
  return writer.started;
}

}  // namespace

bool writeStandardErrorBounded(const char* data, std::size_t size) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return false;
  MutexLock hold(&writer.mu);
  if (!startWriter()) return false;
  if (writer.queuedBytes + size > kQueuedBytesMax) return false;  // the writer is stuck: dropped
  writer.queue.emplace_back(data, size);
  writer.queuedBytes += size;
  const std::uint64_t ticket = ++writer.queued;
  writer.changed.notifyAll();
  const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
  while (writer.done < ticket && std::chrono::steady_clock::now() < deadline) {
    writer.changed.waitUntil(&writer.mu, deadline);
  }
  return writer.done >= ticket;
}

}  // namespace zorsck
