// Whole-file jobs on worker threads while the walk goes on. Jobs start in the order they are
// handed in, and what each one reports (its warnings, whether its file failed) comes out on the
// walk's thread in that order, between the walk's own warnings just as a one-thread run prints
// them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/diagnostics.h"

namespace kelp {

constexpr unsigned max_default_jobs = 8;
constexpr unsigned max_jobs = 64;
// Jobs handed in and not yet reported, per worker: enough to keep every worker busy while the
// walk decodes, few enough that the files they hold open and the bytes they read stay few.
constexpr std::size_t jobs_per_worker = 4;
// The walk's own warnings kept back behind a running job before the walk waits for it.
constexpr std::size_t max_held_lines = 256;

// One worker per core, at most max_default_jobs.
unsigned default_jobs();

// Writes one whole file; `worker` (0 to workers - 1) picks the worker's own buffers. False when
// the file failed (warned).
using Job = std::function<bool(unsigned worker)>;

class WorkerPool {
 public:
  // One worker runs each job at once on the caller's thread, as a run without a pool does.
  explicit WorkerPool(unsigned workers);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  unsigned workers() const { return worker_count; }

  // Hands the job on and returns its ticket, 1 for the first job. Waits while the queue is full.
  std::uint64_t submit(Job job);

  // Reports every finished job at the front of the queue; waits for the front ones while the
  // walk's own warnings kept back have grown past max_held_lines.
  void settle();

  // Waits until the job with this ticket and every earlier one have been reported.
  void wait_for(std::uint64_t ticket);

  // Waits for every job and reports them all; true when every file was written.
  bool finish();

 private:
  struct Slot {
    Job job;
    DiagnosticLog log;    // the job's own warnings
    DiagnosticLog after;  // the walk's, raised after the job was handed in
    bool done = false;
    bool written = true;
  };

  void work(unsigned worker);
  // Reports the finished jobs at the front; with `wait`, waits for the front job first.
  void report(bool wait);

  unsigned worker_count;
  std::mutex mutex;
  std::condition_variable work_ready;       // for workers waiting for a job
  std::condition_variable front_done;       // for the walk waiting for the front job
  std::deque<std::unique_ptr<Slot>> slots;  // handed in, not yet reported, in order
  std::uint64_t reported = 0;               // tickets 1 to `reported` are reported
  std::uint64_t started = 0;                // tickets 1 to `started` were taken by a worker
  unsigned idle = 0;                        // workers waiting for work_ready
  bool walk_waiting = false;
  bool closing = false;
  bool failed = false;
  std::vector<std::thread> threads;
};

}  // namespace kelp
