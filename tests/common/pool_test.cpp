// The pool's promise: jobs run on the workers, and what they report comes out in the order they
// were handed in, between the walk's own warnings, even when later jobs finish first.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostics.h"
#include "common/pool.h"

namespace kelp {
namespace {

TEST(WorkerPool, ReportsInHandInOrderWhenLaterJobsFinishFirst) {
  constexpr int jobs = 8;
  for (unsigned workers : {1u, 2u, 4u}) {
    SCOPED_TRACE(workers);
    std::atomic<int> finished = 0;
    std::vector<std::thread::id> ran_on(jobs);
    std::vector<int> reported;
    std::string expected;
    testing::internal::CaptureStderr();
    {
      WorkerPool pool(workers);
      for (int k = 0; k < jobs; ++k) {
        auto job = [&, k](unsigned) {
          // With workers, the first job ends last.
          while (k == 0 && workers > 1 && finished.load() < jobs - 1) std::this_thread::yield();
          ran_on[k] = std::this_thread::get_id();
          warn("job " + std::to_string(k));
          ++finished;
          return k != 3;
        };
        pool.submit(job, [&, k] { reported.push_back(k); });
        warn("after " + std::to_string(k));
        expected += "kelp: job " + std::to_string(k) + "\nkelp: after " + std::to_string(k) + "\n";
      }
      EXPECT_FALSE(pool.finish());  // job 3's file failed
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(reported, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(ran_on[0] == std::this_thread::get_id(), workers == 1);
  }
}

TEST(WorkerPool, WrapsItsRingAndCountsAThrowingJobAsFailed) {
  for (unsigned workers : {2u, 8u}) {  // 1,000 jobs pass the ring's 128 or 256 slots
    testing::internal::CaptureStderr();
    std::vector<int> reported;
    WorkerPool pool(workers);
    for (int k = 0; k < 1000; ++k) {
      pool.submit(
          [k](unsigned) {
            if (k == 500) throw std::bad_alloc();
            return true;
          },
          [&, k] { reported.push_back(k); });
    }
    EXPECT_FALSE(pool.finish());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kelp: not enough memory to write a file\n");
    ASSERT_EQ(reported.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  }
}

TEST(WorkerPool, WaitsForTheFrontJobOnceTheWalkHoldsTooManyLines) {
  testing::internal::CaptureStderr();
  WorkerPool pool(2);
  pool.submit([](unsigned) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    warn("job");
    return true;
  });
  for (std::size_t line = 0; line <= max_held_lines; ++line) warn("walk");
  pool.settle();  // the job is still running, but the walk holds one line too many
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(printed.starts_with("kelp: job\nkelp: walk\n")) << printed.substr(0, 40);
  EXPECT_EQ(printed.size(), std::string("kelp: job\n").size() +
                                (max_held_lines + 1) * std::string("kelp: walk\n").size());
  pool.finish();
}

}  // namespace
}  // namespace kelp
