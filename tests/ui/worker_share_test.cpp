#include "ui/worker_share.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace kantiq {
namespace {

using Share = WorkerShare<std::string>;

// The worker as the test dialog starts it: it holds its own share, works a
// while (not before `go`, when one is given), then finishes.
std::thread startWorker(std::shared_ptr<Share> share, std::chrono::milliseconds work,
                        const std::atomic<bool>* go = nullptr) {
  return std::thread([share = std::move(share), work, go] {
    while (go != nullptr && !go->load()) std::this_thread::yield();
    std::this_thread::sleep_for(work);
    share->finish(std::string(200, 'r'));  // large enough to live on the heap
  });
}

TEST(WorkerShare, ADialogGoneFirstFreesNothingTheWorkerUses) {
  // Under AddressSanitizer a worker writing into a freed share would fail
  // this test; the notice must not reach a dialog that is gone.
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> told{0};
    std::atomic<bool> dialogGone{false};
    auto share = std::make_shared<Share>([&told] { ++told; });
    std::thread worker = startWorker(share, std::chrono::milliseconds(round % 4), &dialogGone);
    share->detach();  // WM_DESTROY
    share.reset();    // the dialog's state is deleted
    dialogGone = true;
    worker.join();
    EXPECT_EQ(told.load(), 0);
  }
}

TEST(WorkerShare, AWorkerFinishedFirstTellsTheDialogOnceWithItsResult) {
  std::atomic<int> told{0};
  auto share = std::make_shared<Share>([&told] { ++told; });
  std::string result;
  EXPECT_FALSE(share->result(result));
  std::thread worker = startWorker(share, std::chrono::milliseconds(0));
  worker.join();
  EXPECT_EQ(told.load(), 1);
  ASSERT_TRUE(share->result(result));
  EXPECT_EQ(result, std::string(200, 'r'));
}

}  // namespace
}  // namespace kantiq
