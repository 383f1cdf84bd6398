// Knob arithmetic: bearings, notches and the steps a drag makes.
#include "KnobGeometry.h"

#include <gtest/gtest.h>

using knob::AngleFromPoint;
using knob::DragTurn;
using knob::NotchOfAngle;
using knob::ShortestTurn;

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

TEST(KnobGeometry, ATurnIsTakenTheShortWayRound)
{
    EXPECT_EQ(ShortestTurn(335, 40), 65);
    EXPECT_EQ(ShortestTurn(40, 335), -65);
    EXPECT_EQ(ShortestTurn(10, 190), 180);
    EXPECT_EQ(ShortestTurn(190, 10), 180);
    EXPECT_EQ(ShortestTurn(90, 90), 0);
}

TEST(KnobGeometry, ADragStepsOncePerWholeThirtyDegreesFromWhereItBegan)
{
    DragTurn drag;
    drag.Begin(200);
    EXPECT_EQ(drag.Move(204), 0); // grabbed away from the pointer: no step for 4 degrees
    EXPECT_EQ(drag.Move(229), 0);
    EXPECT_EQ(drag.Move(230), 1);
    EXPECT_EQ(drag.Move(290), 2);
    EXPECT_EQ(drag.Move(231), -2); // back again, and a step less than the whole way
    EXPECT_EQ(drag.Move(199), -1);
    EXPECT_EQ(drag.Move(171), 0);
    EXPECT_EQ(drag.Move(170), -1);
    // Round and round: a whole turn is twelve steps.
    drag.Begin(0);
    int steps = 0;
    for (int a = 10; a <= 360; a += 10)
        steps += drag.Move(a % 360);
    EXPECT_EQ(steps, 12);
}
