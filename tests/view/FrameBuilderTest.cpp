// How many profiles a row of the view's height map stands for.
#include "FrameBuilder.h"

#include <gtest/gtest.h>

namespace {

using Varkon::QUILApi::View::FrameBuilder;

TEST(FrameBuilderTest, TheRowStepHoldsWhileTheRateWavers) {
    const struct {
        double rate;
        uint64_t current;
        uint64_t step;
    } cases[] = {
        {0, 1, 1},    {200, 1, 1}, {270, 1, 1},  // within a tenth above 250 rows
        {280, 1, 2},  {500, 1, 2}, {517, 1, 3},  // a faster stream takes the step it needs
        {484, 3, 3},  {517, 2, 2},               // a rate wavering about 500 keeps its step
        {1000, 2, 4}, {100, 3, 1}, {0, 5, 1},    // far off, it moves at once
        {440, 2, 2},  {430, 2, 2}, {400, 2, 2},  // one row a profile would be too many
        {200, 2, 1},  {500, 0, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameBuilder::RowStep(c.rate, c.current), c.step)
            << c.rate << " profiles/s at a step of " << c.current;
    }
}

}  // namespace
