// The per-browser backlog of the view's server: a browser that falls behind loses the oldest
// messages, each one counted, and never holds more than its capacity.
#include "BoundedBacklog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace Varkon::QUILApi::View {
namespace {

struct BacklogCase {
    const char* name;
    std::size_t capacity;
    int pushed;
    int popsBetween;  // pops after every push (a browser reading at some pace)
    std::vector<int> left;
    uint64_t dropped;
};

void PrintTo(const BacklogCase& c, std::ostream* out) {
    *out << c.name;
}

class BoundedBacklogTest : public testing::TestWithParam<BacklogCase> {};

TEST_P(BoundedBacklogTest, KeepsTheNewestAndCountsWhatItDropped) {
    const BacklogCase& c = GetParam();
    BoundedBacklog<int> backlog(c.capacity);
    for (int i = 1; i <= c.pushed; ++i) {
        backlog.Push(i);
        for (int p = 0; p < c.popsBetween && !backlog.Empty(); ++p) {
            backlog.Pop();
        }
        EXPECT_LE(backlog.Size(), std::max<std::size_t>(c.capacity, 1));
    }
    std::vector<int> left;
    while (!backlog.Empty()) {
        left.push_back(backlog.Pop());
    }
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(backlog.Dropped(), c.dropped);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundedBacklogTest,
                         testing::Values(BacklogCase{"Within", 4, 3, 0, {1, 2, 3}, 0},
                                         BacklogCase{"ExactlyFull", 3, 3, 0, {1, 2, 3}, 0},
                                         BacklogCase{"StalledReader", 3, 10, 0, {8, 9, 10}, 7},
                                         BacklogCase{"ReaderKeepsUp", 2, 10, 1, {}, 0},
                                         BacklogCase{"CapacityOfOne", 1, 5, 0, {5}, 4},
                                         BacklogCase{"ZeroMeansOne", 0, 2, 0, {2}, 1}),
                         [](const testing::TestParamInfo<BacklogCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace Varkon::QUILApi::View
