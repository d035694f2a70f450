// The loop thread, which runs every queued task and fires the timers, and the
// worker for work that may block. On POSIX systems the loop sleeps in poll(2)
// on a wake pipe and the watched descriptors; on Windows on a condition
// variable, and nothing is watched.
#include "platform/common/threads.h"

#if defined(_WIN32)
#include <windows.h>

#include <chrono>

#include "base/condvar.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/common/timers.h"

namespace zorsck::common {
namespace {

std::atomic<Control*> gControl{nullptr};
thread_local bool tBackendThread = false;

// A task with the queue it belongs to (none for callbacks and asynchronous work).
struct Task {
  std::shared_ptr<TaskQueue> queue;
  std::function<void()> run;
  bool counted = false;
};

// Makes a task, reporting a counted one to the control; any thread.
Task makeTask(std::shared_ptr<TaskQueue> queue, std::function<void()> run, bool counted) {
  Control* c = counted ? control() : nullptr;
  if (c != nullptr) c->taskQueued();
  return Task{std::move(queue), std::move(run), c != nullptr};
}

}  // namespace

// Every queued task in one FIFO, run on one thread that also fires the timers
// on the real clock and watches file descriptors; never freed.
class Loop {
 public:
  // Runs `task`, holding its queue's serial lock if it has a queue, and lets go
  // of what it captured before it counts as done; loop or worker thread.
  static void runTask(Task& task) {
    if (task.queue) {
      MutexLock hold(&task.queue->serial_);
      task.run();
      task.run = nullptr;
    } else {
      task.run();
      task.run = nullptr;
    }
    if (task.counted) control()->taskFinished();
  }

  // Queues `task`, starting the thread at the first need; any thread.
  void post(Task task) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    tasks_.push_back(std::move(task));
    wakeLocked();
  }
  // Queues `run` when the loop has a thread or one can be started now, and
  // says whether it did; any thread.
  bool tryPost(std::function<void()> run, bool counted) EXCLUDES(mu_) {
    {
      MutexLock lock(&mu_);
      if (!started_) start();
      if (!started_) return false;
    }
    post(makeTask(nullptr, std::move(run), counted));  // a started loop runs for the process
    return true;
  }
#if !defined(_WIN32)
  // Runs `task` on the loop once `fd` is readable; any thread.
  void watch(int fd, std::function<void()> task) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    watches_.push_back(Watch{fd, std::move(task)});
    wakeLocked();
  }
#endif
  // Has the loop look at the timers again; any thread.
  void wake() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    wakeLocked();
  }

 private:
#if defined(_WIN32)
  // Starts the thread if it is not running, else makes it look again; any thread.
  void wakeLocked() REQUIRES(mu_) {
    rung_ = true;
    if (!started_) start();
    if (sleeping_) rungCv_.notifyAll();
  }

  // Makes the thread; a failure leaves it for the next wake; any thread.
  void start() REQUIRES(mu_) {
    started_ = startThread([this] { serve(); });  // lives for the process
  }
#else
  struct Watch {
    int fd = -1;
    std::function<void()> run;
  };

  // Starts the thread if it is not running, else makes it look again; any thread.
  void wakeLocked() REQUIRES(mu_) {
    rung_ = true;
    if (!started_) start();
    if (sleeping_ && !signalled_ && pipe_[1] >= 0) {
      const char one = 1;
      signalled_ = ::write(pipe_[1], &one, 1) == 1;
    }
  }

  // Makes the wake pipe and the thread; a failure leaves it for the next wake; any thread.
  void start() REQUIRES(mu_) {
    if (pipe_[0] < 0) {
      int fds[2];
      if (::pipe(fds) != 0) return;
      for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
      }
      pipe_[0] = fds[0];
      pipe_[1] = fds[1];
    }
    started_ = startThread([this] { serve(); });  // lives for the process
  }
#endif

  // Runs tasks, fires timers and waits for the next of either; loop thread.
  [[noreturn]] void serve() EXCLUDES(mu_) {
    prepareThisThread("zorsck");
#if !defined(_WIN32)
    std::vector<pollfd> fds;
#endif
    for (;;) {
      {
        MutexLock lock(&mu_);
        rung_ = false;  // a wake from here on is seen below, or rings the pipe
      }
      const std::optional<std::int64_t> due = fireDueTimers();
      Task task;
      {
        MutexLock lock(&mu_);
        if (!tasks_.empty()) {
          task = std::move(tasks_.front());
          tasks_.pop_front();
        } else if (rung_) {
          continue;
        } else {
          sleeping_ = true;
#if !defined(_WIN32)
          fds.assign(1, pollfd{pipe_[0], POLLIN, 0});
          for (const Watch& w : watches_) fds.push_back(pollfd{w.fd, POLLIN, 0});
#endif
        }
      }
      if (task.run) {
        runTask(task);
        continue;
      }
#if defined(_WIN32)
      sleep(due);
#else
      sleep(fds, due);
#endif
    }
  }

#if defined(_WIN32)
  // Waits until a wake or `due` (at most a minute); loop thread.
  void sleep(std::optional<std::int64_t> due) EXCLUDES(mu_) {
    const std::int64_t left =
        due ? std::clamp<std::int64_t>(*due - steadyNs(), 0, 60'000'000'000) : 60'000'000'000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(left);
    MutexLock lock(&mu_);
    if (!rung_) rungCv_.waitUntil(&mu_, deadline);
    sleeping_ = false;
  }
#else
  // Waits until a wake, a watched descriptor or `due`, and queues the watches
  // that fired; loop thread.
  void sleep(std::vector<pollfd>& fds, std::optional<std::int64_t> due) EXCLUDES(mu_) {
    int timeoutMs = -1;
    if (due) {
      const std::int64_t left = std::max<std::int64_t>(*due - steadyNs(), 0);
      timeoutMs = static_cast<int>(std::min<std::int64_t>((left + 999'999) / 1'000'000, 60'000));
    }
    const int ready = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    MutexLock lock(&mu_);
    sleeping_ = false;
    if (signalled_) {
      char drain[16];
      while (::read(pipe_[0], drain, sizeof drain) > 0) {
      }
      signalled_ = false;
    }
    if (ready <= 0) return;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const auto w = std::find_if(watches_.begin(), watches_.end(),
                                  [&](const Watch& x) { return x.fd == fds[i].fd; });
      if (w == watches_.end()) continue;
      tasks_.push_back(Task{nullptr, std::move(w->run), false});
      watches_.erase(w);
    }
  }
#endif

  Mutex mu_;
  std::deque<Task> tasks_ GUARDED_BY(mu_);
  bool started_ GUARDED_BY(mu_) = false;
  bool rung_ GUARDED_BY(mu_) = false;       // something to look at since the last look
  bool sleeping_ GUARDED_BY(mu_) = false;   // the thread is in or entering its wait
#if defined(_WIN32)
  CondVar rungCv_;  // notified, with mu_ held, when rung_ is set while sleeping_
#else
  std::vector<Watch> watches_ GUARDED_BY(mu_);
  bool signalled_ GUARDED_BY(mu_) = false;  // a byte waits in the pipe
  int pipe_[2] GUARDED_BY(mu_) = {-1, -1};
#endif
};

namespace {

// The loop, never freed: work may still be posted while the process exits.
Loop& loop() {
  static Loop* const l = new Loop;
  return *l;
}

// The worker's queue; its thread runs while there is work and then ends.
struct Worker {
  Mutex mu;
  std::deque<Task> tasks GUARDED_BY(mu);
  bool running GUARDED_BY(mu) = false;
};

Worker& worker() {
  static Worker* const w = new Worker;
  return *w;
}

// Runs the worker's tasks until there are none; worker thread.
void serveWorker() {
  prepareThisThread("zorsck-worker");
  Worker& w = worker();
  for (;;) {
    Task task;
    {
      MutexLock lock(&w.mu);
      if (w.tasks.empty()) {
        w.running = false;
        return;
      }
      task = std::move(w.tasks.front());
      w.tasks.pop_front();
    }
    Loop::runTask(task);
  }
}

}  // namespace

void installControl(Control* c) { gControl.store(c, std::memory_order_release); }

Control* control() { return gControl.load(std::memory_order_acquire); }

#if defined(_WIN32)
void prepareThisThread(const std::string& name) {
  tBackendThread = true;
  // SetThreadDescription came with Windows 10 1607: looked up, not linked.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (setDescription != nullptr) {
    const std::wstring wide(name.begin(), name.end());  // the names are ASCII
    setDescription(::GetCurrentThread(), wide.c_str());
  }
}

namespace {

// Keeps the library mapped for the rest of the process from its first
// thread on, so a host's FreeLibrary never unmaps code a thread still runs
// (what -z nodelete does for the Linux library); any thread, never under the
// loader lock (threads start on calls only).
void pinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.exchange(true)) return;
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&pinModule)), &self);
}

}  // namespace
#else
void prepareThisThread(const std::string& name) {
  tBackendThread = true;
#if defined(__APPLE__)
  pthread_setname_np(name.substr(0, 63).c_str());  // Darwin names only the calling thread
#else
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#endif
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}
#endif

bool onBackendThread() { return tBackendThread; }

bool startThread(std::function<void()> body) {
  Control* c = control();
  if (c != nullptr && c->refuseThread()) return false;
#if defined(_WIN32)
  pinModule();
#endif
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void TaskQueue::post(std::function<void()> task, bool counted) {
  loop().post(makeTask(shared_from_this(), std::move(task), counted));
}

void runOnCallbackThread(std::function<void()> task) {
  loop().post(makeTask(nullptr, std::move(task), true));
}

bool tryOnCallbackThread(std::function<void()> task) {
  return loop().tryPost(std::move(task), true);
}

bool runBlocking(std::function<void()> task) {
  Worker& w = worker();
  MutexLock lock(&w.mu);
  // Without a thread of its own the work runs on the loop rather than never.
  if (!w.running && !startThread(serveWorker)) return loop().tryPost(std::move(task), true);
  w.tasks.push_back(makeTask(nullptr, std::move(task), true));
  w.running = true;
  return true;
}

#if !defined(_WIN32)
void whenReadable(int fd, std::function<void()> task) { loop().watch(fd, std::move(task)); }
#endif

void wakeLoop() { loop().wake(); }

}  // namespace zorsck::common

namespace zorsck::platform {

SerialQueueRef makeSerialQueue(const char* label) {
  return std::make_shared<SerialQueue>(label != nullptr ? label : "");
}

bool runAsync(std::function<void()> task) { return common::tryOnCallbackThread(std::move(task)); }

}  // namespace zorsck::platform
