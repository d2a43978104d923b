// Whole-file jobs on worker threads while the walk goes on. Jobs start in the order they are
// handed in, and what each one reports (its warnings, whether its file failed) comes out on the
// walk's thread in that order, between the walk's own warnings just as a one-thread run prints
// them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/diagnostics.h"

namespace kelp {

constexpr unsigned max_default_jobs = 8;
constexpr unsigned max_jobs = 64;
// Jobs handed in and not yet reported, per worker and in all: enough that a long job at the
// front does not hold the workers up (each waiting job holds little: its file and a view of the
// bytes it reads), few enough to stay far from the limit of open files.
constexpr std::size_t jobs_per_worker = 64;
constexpr std::size_t max_jobs_waiting = 256;
// Waking a thread costs more than writing a small file. A sleeping worker is woken when no
// worker is awake or when this many jobs wait, and a worker that runs out of jobs watches for
// the next one this long before it sleeps.
constexpr std::uint64_t wake_at_waiting = 16;
constexpr std::chrono::microseconds watch_before_sleeping{20};
// The walk's own warnings kept back behind a running job before the walk waits for it.
constexpr std::size_t max_held_lines = 256;

// Lets threads sleep until a condition on atomics holds, woken by the threads that change them;
// waking costs nothing while no thread sleeps. (std::atomic's own wait loses wake-ups in some
// standard libraries without futexes, such as mingw-w64's.) The condition's atomics are changed
// and read sequentially consistent, as `sleeping` is: a thread that changes them and then finds no
// sleeper is seen by any thread that goes to sleep after.
struct Wakeup {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<unsigned> sleeping = 0;

  // Called after a change that a sleeper may be waiting for.
  void notify() {
    if (sleeping.load() == 0) return;
    { std::lock_guard lock(mutex); }  // a sleeper about to sleep is asleep now
    changed.notify_all();
  }

  template <typename Ready>
  void wait_until(Ready ready) {
    std::unique_lock lock(mutex);
    sleeping.fetch_add(1);
    changed.wait(lock, ready);
    sleeping.fetch_sub(1);
  }
};

// One worker per core, at most max_default_jobs.
unsigned default_jobs();

// Tells the core that this thread is waiting in a loop for another, so that it spends less.
inline void pause_while_spinning() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Writes one whole file; `worker` (0 to workers - 1) picks the worker's own buffers. False when
// the file failed (warned).
using Job = std::function<bool(unsigned worker)>;

// Only the walk's thread hands jobs in and reports them; the workers take them from a ring of
// slots without a lock and sleep only when there is nothing to do. (A queue under one mutex
// measured 5 to 15% slower on a package of many textures.)
//
// The atomics meet in four pairs, each named at both ends in pool.cpp:
//  A. publish: the walk fills a slot, then stores `handed_in` (release); a worker loads it
//     (acquire) before it reads the slot's job.
//  B. result: a worker fills the slot's log and `written`, then stores `done` (release); the
//     walk loads `done` (acquire) before it reads them.
//  C. the walk's sleep: the walk stores `awaited`, then loads `done`; a worker stores `done`,
//     then loads `awaited`. Both sequentially consistent, so at least one sees the other: the
//     walk does not sleep past a done job, or the worker wakes it (under `sleep_mutex`).
//  D. the workers' sleep: a worker adds to `sleeping`, then loads `handed_in`; the walk stores
//     `handed_in`, then loads `sleeping`. Sequentially consistent in the same way: a worker
//     does not sleep past a job, or the walk wakes it.
// `started` is shared by the workers alone (each taken by compare-exchange); the walk and
// `watching` read counts only as hints for when to wake.
class WorkerPool {
 public:
  // One worker runs each job at once on the caller's thread, as a run without a pool does.
  explicit WorkerPool(unsigned workers);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  unsigned workers() const { return worker_count; }
  // Jobs handed in and not yet reported, at most.
  std::size_t most_waiting() const { return capacity; }

  // Hands the job on and returns its ticket, 1 for the first job. When the ring is full, waits
  // until a quarter of it is free.
  // `reported`, when set, runs on the walk's thread once the job is done, in the order of the
  // jobs, right after the job's own warnings are printed.
  std::uint64_t submit(Job job, std::function<void()> reported = {});

  // Reports every finished job at the front; waits for the front ones while the walk's own
  // warnings kept back have grown past max_held_lines.
  void settle();

  // Waits until the job with this ticket and every earlier one have been reported.
  void wait_for(std::uint64_t ticket);

  // Waits for every job handed in so far, and reports them.
  void wait_for_all() { wait_for(submitted); }

  // Waits for every job and reports them all; true when every file was written.
  bool finish();

 private:
  struct Slot {
    Job job;
    std::function<void()> reported;
    DiagnosticLog log;    // the job's own warnings
    DiagnosticLog after;  // the walk's, raised after the job was handed in
    bool written = true;
    std::atomic<std::uint32_t> done = 0;
  };

  Slot& slot(std::uint64_t ticket) { return ring[(ticket - 1) % capacity]; }
  void work(unsigned worker);
  bool take_job(std::uint64_t& ticket);
  void run_job(std::uint64_t ticket, unsigned worker);
  void watch_for_job();
  void wake_workers(bool all);
  // Reports the finished jobs at the front, after waiting for the job `wait_for_ticket` unless
  // that is 0 or reported.
  void report(std::uint64_t wait_for_ticket);

  unsigned worker_count;
  std::size_t capacity;
  std::unique_ptr<Slot[]> ring;
  std::uint64_t submitted = 0;  // the walk's own counts
  std::uint64_t reported = 0;
  bool failed = false;
  std::atomic<std::uint64_t> handed_in = 0;  // tickets 1 to `handed_in` may be taken
  std::atomic<std::uint64_t> started = 0;    // tickets 1 to `started` were taken
  std::atomic<std::uint64_t> awaited = 0;    // the ticket the walk sleeps on, or 0
  std::uint32_t wake_signal = 0;             // counts wakings, under sleep_mutex
  std::mutex sleep_mutex;                    // only for sleeping and waking
  std::condition_variable work_ready;
  std::condition_variable front_done;
  std::atomic<unsigned> sleeping = 0;
  std::atomic<unsigned> watching = 0;
  std::atomic<bool> closing = false;
  std::vector<std::thread> threads;
};

}  // namespace kelp
