#include "common/pool.h"

#include <algorithm>
#include <new>
#include <utility>

namespace kelp {

unsigned default_jobs() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, max_default_jobs);
}

WorkerPool::WorkerPool(unsigned workers)
    : worker_count(std::clamp(workers, 1u, max_jobs)),
      capacity(std::min(jobs_per_worker * worker_count, max_jobs_waiting)),
      ring(new Slot[capacity]) {
  if (worker_count == 1) return;
  threads.reserve(worker_count);
  for (unsigned worker = 0; worker < worker_count; ++worker) {
    threads.emplace_back([this, worker] { work(worker); });
  }
}

WorkerPool::~WorkerPool() {
  finish();
}

std::uint64_t WorkerPool::submit(Job job, std::function<void()> when_reported) {
  if (threads.empty()) {
    if (!job(0)) failed = true;
    if (when_reported) when_reported();
    reported = ++submitted;
    return submitted;
  }
  if (submitted - reported == capacity) wait_for(reported + std::max<std::size_t>(capacity / 4, 1));
  Slot& next = slot(++submitted);
  next.job = std::move(job);
  next.reported = std::move(when_reported);
  next.log.clear();
  next.after.clear();
  next.written = true;
  next.done.store(0, std::memory_order_relaxed);  // published with the slot, by A
  handed_in.store(submitted);                     // A (release), and D's store
  unsigned asleep = sleeping.load();              // D's load
  if (asleep > 0) {
    bool none_awake = asleep == worker_count;
    bool many_waiting = watching.load() == 0 && submitted - started.load() >= wake_at_waiting;
    if (none_awake || many_waiting) wake_workers(false);
  }
  hold_diagnostics(&next.after);
  return submitted;
}

void WorkerPool::settle() {
  if (reported == submitted) return;
  report(0);
  if (reported < submitted && slot(submitted).after.size() > max_held_lines) {
    wait_for(submitted);
  }
}

void WorkerPool::wait_for(std::uint64_t ticket) {
  ticket = std::min(ticket, submitted);
  while (reported < ticket) {
    // Jobs end nearly in order: the walk sleeps until the last one it needs, then takes the
    // earlier ones that are not done yet one by one.
    report(slot(ticket).done.load() != 0 ? reported + 1 : ticket);
  }
}

bool WorkerPool::finish() {
  if (!threads.empty()) {
    wait_for_all();
    closing.store(true);
    wake_workers(true);
    for (std::thread& thread : threads) thread.join();
    threads.clear();
  }
  return !failed;
}

void WorkerPool::wake_workers(bool all) {
  {
    std::lock_guard lock(sleep_mutex);
    ++wake_signal;
  }
  all ? work_ready.notify_all() : work_ready.notify_one();
}

void WorkerPool::report(std::uint64_t wait_for_ticket) {
  if (wait_for_ticket > reported && wait_for_ticket <= submitted) {
    if (sleeping.load() > 0 && started.load() < submitted) wake_workers(true);
    Slot& awaited_slot = slot(wait_for_ticket);
    awaited.store(wait_for_ticket);  // C's store
    std::unique_lock lock(sleep_mutex);
    front_done.wait(lock, [&] { return awaited_slot.done.load() != 0; });  // C's load
    awaited.store(0);
  }
  hold_diagnostics(nullptr);
  // B (acquire): what the job wrote into its slot is visible once its `done` is seen.
  while (reported < submitted && slot(reported + 1).done.load(std::memory_order_acquire) != 0) {
    Slot& finished = slot(++reported);
    finished.job = nullptr;  // what it held is freed on the thread that made it
    print_diagnostics(finished.log);
    if (finished.reported) std::exchange(finished.reported, nullptr)();
    print_diagnostics(finished.after);
    if (!finished.written) failed = true;
  }
  hold_diagnostics(reported < submitted ? &slot(submitted).after : nullptr);
}

bool WorkerPool::take_job(std::uint64_t& ticket) {
  std::uint64_t taken = started.load(std::memory_order_relaxed);
  while (taken < handed_in.load(std::memory_order_acquire)) {  // A (acquire)
    if (started.compare_exchange_weak(taken, taken + 1, std::memory_order_acq_rel)) {
      ticket = taken + 1;
      return true;
    }
  }
  return false;
}

void WorkerPool::run_job(std::uint64_t ticket, unsigned worker) {
  Slot& job = slot(ticket);
  hold_diagnostics(&job.log);
  bool written = false;
  try {
    written = job.job(worker);
  } catch (const std::bad_alloc&) {
    warn("not enough memory to write a file");
  }
  hold_diagnostics(nullptr);
  job.written = written;
  job.done.store(1);               // B (release), and C's store
  if (awaited.load() == ticket) {  // C's load
    // Notified under the mutex: the walk tests `done` under it before it sleeps, so it has either
    // seen `done` already or is asleep and gets this.
    std::lock_guard lock(sleep_mutex);
    front_done.notify_one();
  }
}

// One worker at a time watches, pausing between looks so as to leave the queue's cache lines to
// the walk; yielding would be a system call each time.
void WorkerPool::watch_for_job() {
  if (watching.fetch_add(1) == 0) {
    auto until = std::chrono::steady_clock::now() + watch_before_sleeping;
    while (started.load() == handed_in.load() && !closing.load() &&
           std::chrono::steady_clock::now() < until) {
      pause_while_spinning();
    }
  }
  watching.fetch_sub(1);
}

void WorkerPool::work(unsigned worker) {
  for (;;) {
    std::uint64_t ticket = 0;
    if (take_job(ticket)) {
      run_job(ticket, worker);
      continue;
    }
    if (closing.load()) return;
    watch_for_job();
    if (started.load() < handed_in.load()) continue;
    std::unique_lock lock(sleep_mutex);
    std::uint32_t seen = wake_signal;
    sleeping.fetch_add(1);       // D's store
    work_ready.wait(lock, [&] {  // D's load, in the predicate
      return wake_signal != seen || started.load() < handed_in.load() || closing.load();
    });
    sleeping.fetch_sub(1);
  }
}

}  // namespace kelp
