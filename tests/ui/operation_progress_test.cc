// How far an operation is, as the window tells it, and its stop.
#include "ui/operation_progress.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvik {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class OperationProgressTest : public testing::Test {
 protected:
  OperationProgressTest() { progress_.Begin("Verifying", At(0)); }

  static OperationProgress::Clock::time_point At(milliseconds since) {
    return OperationProgress::Clock::time_point(seconds(1000) + since);
  }
  static OperationProgress::Clock::time_point At(int since_ms) {
    return At(milliseconds(since_ms));
  }

  std::string CaptionAt(int since_ms) {
    auto shown = progress_.ShownAt(At(since_ms));
    return shown ? shown->caption : "(nothing)";
  }

  OperationProgress progress_;
};

TEST_F(OperationProgressTest, QuietForHalfASecondThenShareThenTimeLeft) {
  EXPECT_EQ(CaptionAt(700), "(nothing)") << "before any stretch started";
  progress_.Start(1000);
  progress_.Advance(100);
  EXPECT_EQ(CaptionAt(400), "(nothing)");
  auto shown = progress_.ShownAt(At(600));
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->caption, "Verifying 10 %") << "no rate measured yet";
  EXPECT_EQ(shown->percent, 10);
  // 100 bytes a second from here on: 800 bytes left.
  progress_.Advance(100);
  EXPECT_EQ(CaptionAt(1600), "Verifying 20 % (about 8 s left)");
  progress_.Advance(700);
  EXPECT_EQ(CaptionAt(8600), "Verifying 90 % (about 1 s left)");
}

TEST_F(OperationProgressTest, LongWorkIsToldInMinutesAndHours) {
  progress_.Start(100000);
  progress_.Advance(1000);
  (void)CaptionAt(1000);
  progress_.Advance(1000);
  // 1000 bytes in 10 s: 98000 bytes left take 980 s.
  EXPECT_EQ(CaptionAt(11000), "Verifying 2 % (about 16 min left)");
  progress_.Advance(1000);
  // 2000 bytes in 1000 s: 97000 left take 48500 s.
  EXPECT_EQ(CaptionAt(1001000), "Verifying 3 % (about 13 h 28 min left)");
}

TEST_F(OperationProgressTest, EachStretchCountsAfresh) {
  progress_.Start(1000);
  progress_.Advance(1000);
  EXPECT_EQ(CaptionAt(600), "Verifying 100 %");
  progress_.Start(4000);
  progress_.Advance(1000);
  EXPECT_EQ(CaptionAt(700), "Verifying 25 %");
  progress_.Advance(1000);
  EXPECT_EQ(CaptionAt(1700), "Verifying 50 % (about 2 s left)");
}

// A stand-in for an operation: counts blocks until it is told to stop.
void CountUntilStopped(Progress& progress) {
  progress.Start(1 << 30);
  while (!progress.StopRequested()) {
    progress.Advance(4096);
    std::this_thread::yield();
  }
}

TEST_F(OperationProgressTest, OperationThatHonoursTheStopCountsAsStopped) {
  std::thread operation([this] { CountUntilStopped(progress_); });
  while (!progress_.ShownAt(At(600)) ||
         progress_.ShownAt(At(600))->caption == "Verifying 0 %") {
    std::this_thread::yield();
  }
  EXPECT_FALSE(progress_.stopped());
  progress_.RequestStop();
  operation.join();
  EXPECT_TRUE(progress_.stopped());

  progress_.Begin("Generating Hash", At(0));
  EXPECT_FALSE(progress_.stopped()) << "a new operation starts unstopped";
}

TEST_F(OperationProgressTest, StopNoOperationAskedForIsNoStop) {
  progress_.Start(10);
  progress_.Advance(10);
  progress_.RequestStop();
  EXPECT_FALSE(progress_.stopped());
}

}  // namespace
}  // namespace korvik
