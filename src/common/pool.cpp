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
  {
    std::lock_guard lock(mutex);
    next.done = false;
    handed_in = submitted;
  }
  work_ready.notify_one();
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
  while (reported < ticket) report(ticket);
}

bool WorkerPool::finish() {
  if (!threads.empty()) {
    wait_for_all();
    {
      std::lock_guard lock(mutex);
      closing = true;
    }
    work_ready.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
  }
  return !failed;
}

void WorkerPool::report(std::uint64_t wait_for_ticket) {
  std::uint64_t ready = reported;
  {
    std::unique_lock lock(mutex);
    if (wait_for_ticket > reported) {
      awaited = wait_for_ticket;
      front_done.wait(lock, [&] { return slot(wait_for_ticket).done; });
      awaited = 0;
    }
    while (ready < submitted && slot(ready + 1).done) ++ready;
  }
  hold_diagnostics(nullptr);
  while (reported < ready) {
    Slot& finished = slot(++reported);
    finished.job = nullptr;  // what it held is freed on the thread that made it
    print_diagnostics(finished.log);
    if (finished.reported) std::exchange(finished.reported, nullptr)();
    print_diagnostics(finished.after);
    if (!finished.written) failed = true;
  }
  hold_diagnostics(reported < submitted ? &slot(submitted).after : nullptr);
}

void WorkerPool::run_job(Slot& job, unsigned worker) {
  hold_diagnostics(&job.log);
  bool written = false;
  try {
    written = job.job(worker);
  } catch (const std::bad_alloc&) {
    warn("not enough memory to write a file");
  }
  hold_diagnostics(nullptr);
  job.written = written;
}

void WorkerPool::work(unsigned worker) {
  std::unique_lock lock(mutex);
  for (;;) {
    work_ready.wait(lock, [&] { return started < handed_in || closing; });
    if (started == handed_in) return;  // closing, and nothing left
    std::uint64_t ticket = ++started;
    lock.unlock();
    run_job(slot(ticket), worker);
    lock.lock();
    slot(ticket).done = true;
    if (awaited != 0 && slot(awaited).done) front_done.notify_one();
  }
}

}  // namespace kelp
