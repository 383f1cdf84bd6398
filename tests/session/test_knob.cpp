// Knob arithmetic: bearings, notches and the steps between notches.
#include "KnobGeometry.h"

#include <gtest/gtest.h>

using knob::AngleFromPoint;
using knob::NotchOfAngle;
using knob::StepDelta;

TEST(KnobGeometry, BearingsClockwiseFromTwelveWithYDown)
{
    EXPECT_EQ(AngleFromPoint(70, 70, 70, 0), 0);
    EXPECT_EQ(AngleFromPoint(70, 70, 140, 70), 90);
    EXPECT_EQ(AngleFromPoint(70, 70, 70, 140), 180);
    EXPECT_EQ(AngleFromPoint(70, 70, 0, 70), 270);
    EXPECT_EQ(AngleFromPoint(70, 70, 120, 20), 45);
    EXPECT_EQ(AngleFromPoint(70, 70, 20, 20), 315);
    EXPECT_EQ(AngleFromPoint(70, 70, 20, 120), 225);
    // Truncated, not rounded: just left of straight up is 359, never 360.
    EXPECT_EQ(AngleFromPoint(70, 70, 69, 0), 359);
    EXPECT_EQ(AngleFromPoint(70, 70, 71, 0), 0);
}

TEST(KnobGeometry, CentreCountsAsSixOClock)
{
    EXPECT_EQ(AngleFromPoint(70, 70, 70, 70), 180);
    EXPECT_EQ(NotchOfAngle(AngleFromPoint(70, 70, 70, 70)), 7);
}

TEST(KnobGeometry, NotchBoundaries)
{
    EXPECT_EQ(NotchOfAngle(0), 1);
    EXPECT_EQ(NotchOfAngle(14), 1);
    EXPECT_EQ(NotchOfAngle(345), 1);
    EXPECT_EQ(NotchOfAngle(359), 1);
    EXPECT_EQ(NotchOfAngle(15), 2);
    EXPECT_EQ(NotchOfAngle(44), 2);
    EXPECT_EQ(NotchOfAngle(45), 3);
    EXPECT_EQ(NotchOfAngle(90), 4);
    EXPECT_EQ(NotchOfAngle(315), 12);
    EXPECT_EQ(NotchOfAngle(344), 12);
    for (int angle = 0; angle < 360; ++angle) {
        const int notch = NotchOfAngle(angle);
        ASSERT_GE(notch, 1);
        ASSERT_LE(notch, 12);
    }
}

TEST(KnobGeometry, OnlyASingleStepWrapsAcrossTwelve)
{
    EXPECT_EQ(StepDelta(12, 1), 1);
    EXPECT_EQ(StepDelta(1, 12), -1);
    EXPECT_EQ(StepDelta(12, 2), -10);
    EXPECT_EQ(StepDelta(2, 12), 10);
    EXPECT_EQ(StepDelta(1, 4), 3);
    EXPECT_EQ(StepDelta(5, 5), 0);
}
