#include "common/pool.h"

#include <algorithm>
#include <new>

namespace kelp {

unsigned default_jobs() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, max_default_jobs);
}

WorkerPool::WorkerPool(unsigned workers) : worker_count(std::clamp(workers, 1u, max_jobs)) {
  if (worker_count == 1) return;
  threads.reserve(worker_count);
  for (unsigned worker = 0; worker < worker_count; ++worker) {
    threads.emplace_back([this, worker] { work(worker); });
  }
}

WorkerPool::~WorkerPool() {
  finish();
}

std::uint64_t WorkerPool::submit(Job job) {
  if (threads.empty()) {
    if (!job(0)) failed = true;
    return ++reported;
  }
  if (slots.size() >= jobs_per_worker * worker_count) report(true);
  auto slot = std::make_unique<Slot>();
  slot->job = std::move(job);
  DiagnosticLog* after = &slot->after;
  bool wake = false;
  {
    std::lock_guard lock(mutex);
    slots.push_back(std::move(slot));
    wake = idle > 0;
  }
  if (wake) work_ready.notify_one();
  hold_diagnostics(after);
  return reported + slots.size();
}

void WorkerPool::settle() {
  if (slots.empty()) return;
  report(false);
  if (!slots.empty() && slots.back()->after.size() > max_held_lines) {
    wait_for(reported + slots.size());
  }
}

void WorkerPool::wait_for(std::uint64_t ticket) {
  while (reported < ticket && !slots.empty()) report(true);
}

bool WorkerPool::finish() {
  if (!threads.empty()) {
    wait_for(reported + slots.size());
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

// Only the walk's thread adds and removes slots, so it reads the queue's ends without the lock.
void WorkerPool::report(bool wait) {
  std::vector<std::unique_ptr<Slot>> finished;
  {
    std::unique_lock lock(mutex);
    if (wait && !slots.empty()) {
      walk_waiting = true;
      front_done.wait(lock, [&] { return slots.front()->done; });
      walk_waiting = false;
    }
    while (!slots.empty() && slots.front()->done) {
      finished.push_back(std::move(slots.front()));
      slots.pop_front();
      ++reported;
    }
  }
  hold_diagnostics(nullptr);
  for (const std::unique_ptr<Slot>& slot : finished) {
    print_diagnostics(slot->log);
    print_diagnostics(slot->after);
    if (!slot->written) failed = true;
  }
  hold_diagnostics(slots.empty() ? nullptr : &slots.back()->after);
}

void WorkerPool::work(unsigned worker) {
  std::unique_lock lock(mutex);
  for (;;) {
    while (!closing && started == reported + slots.size()) {
      ++idle;
      work_ready.wait(lock);
      --idle;
    }
    if (started == reported + slots.size()) return;
    Slot* slot = slots[started - reported].get();
    ++started;
    lock.unlock();
    hold_diagnostics(&slot->log);
    bool written = false;
    try {
      written = slot->job(worker);
    } catch (const std::bad_alloc&) {
      warn("not enough memory to write a file");
    }
    hold_diagnostics(nullptr);
    slot->job = nullptr;
    lock.lock();
    slot->written = written;
    slot->done = true;
    if (walk_waiting && slot == slots.front().get()) front_done.notify_one();
  }
}

}  // namespace kelp
