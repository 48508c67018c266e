// The send window: limits by frames and by bytes, one full report per episode, reopening only at
// seven eighths, forced reservations, and lost frames reported.
#include <gtest/gtest.h>

#include "platform/rpc/send_window.h"

namespace {

class CCountingWindow : public CSendWindow {
public:
    using CSendWindow::CSendWindow;
    int fullReports = 0;
    int lost = 0;
    RPC_STATUS lastStatus = RPC_S_OK;

private:
    void OnFull() override { ++fullReports; }
    void OnLost(RPC_STATUS status) override {
        ++lost;
        lastStatus = status;
    }
};

TEST(SendWindow, FillsByFramesOrBytesAndReopensAtSevenEighths) {
    struct {
        size_t frameSize;  // bytes per frame: 1 fills by frames, 100 by bytes
        size_t fits;       // frames taken before the first refusal
        size_t reopenAt;   // frames left when it accepts again
    } const cases[] = {{1, 16, 14}, {100, 8, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frameSize);
        CCountingWindow window(16, 800);
        for (size_t i = 0; i < c.fits; ++i) ASSERT_TRUE(window.Reserve(c.frameSize, false)) << i;
        EXPECT_FALSE(window.Reserve(c.frameSize, false));
        EXPECT_FALSE(window.Reserve(0, false)) << "an empty frame is refused too";
        EXPECT_EQ(window.fullReports, 1) << "one report per episode";
        EXPECT_TRUE(window.Reserve(c.frameSize, true)) << "control frames are never refused";
        window.Release(1, c.frameSize);
        for (size_t left = c.fits; left > c.reopenAt + 1; --left) {
            window.Release(1, c.frameSize);
            EXPECT_FALSE(window.Reserve(c.frameSize, false)) << "still above seven eighths at " << left - 1;
        }
        window.Release(1, c.frameSize);
        EXPECT_EQ(window.Frames(), c.reopenAt);
        EXPECT_TRUE(window.Reserve(c.frameSize, false));
        EXPECT_EQ(window.fullReports, 1);
    }
}

TEST(SendWindow, ALostFrameIsReleasedAndReported) {
    CCountingWindow window(4, 1000);
    ASSERT_TRUE(window.Reserve(10, false));
    ASSERT_TRUE(window.Reserve(20, false));
    window.Lose(20, RPC_S_CALL_FAILED);
    EXPECT_EQ(window.lost, 1);
    EXPECT_EQ(window.lastStatus, RPC_S_CALL_FAILED);
    EXPECT_EQ(window.Frames(), 1u);
    EXPECT_EQ(window.Bytes(), 10u);
}

}  // namespace
