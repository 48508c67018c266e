// Library start and end.
#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "runtime/process.h"
#include "runtime/ref_count.h"
#include "support/trace_capture.h"

TEST(Lifetime, TermWithoutInitIsHarmless) {
    EXPECT_EQ(MbVersionGet(), 82u) << "answered without init";
    MbLibraryTerm();
    MbLibraryTerm();
    EXPECT_FALSE(process::Initialised());
    EXPECT_EQ(MbHandleRelease(reinterpret_cast<void*>(0x1000)), 3u);
}

TEST(Lifetime, SecondInitSucceedsWithoutEffect) {
    ASSERT_EQ(MbLibraryInit(), 1);
    MbTracerSet(&trace_capture::Callback);
    trace_capture::Clear();
    CCountable* object = new CCountable;
    EXPECT_EQ(MbLibraryInit(), 1);
    EXPECT_EQ(MbHandleAddRef(object), 0u) << "handles stay valid";
    EXPECT_EQ(MbHandleRelease(reinterpret_cast<void*>(0x20)), 3u);
    EXPECT_EQ(trace_capture::Records().size(), 1u) << "the callback stays installed";
    EXPECT_EQ(MbHandleRelease(object), 0u);
    EXPECT_EQ(MbHandleRelease(object), 0u);
    MbLibraryTerm();
}

TEST(Lifetime, InitTermInitAgain) {
    for (int period = 0; period < 3; ++period) {
        ASSERT_EQ(MbLibraryInit(), 1);
        EXPECT_TRUE(process::Initialised());
        MbLibraryTerm();
        EXPECT_FALSE(process::Initialised());
    }
}
