// The publish queue's bounds: every byte of a waiting message counts, its texts included.
#include "PublishQueue.h"

#include <gtest/gtest.h>

namespace Varkon::QuilGateway::Testing {
namespace {

TEST(PublishQueueTest, TextsOfMetricsCountInItsBytes) {
    PublishQueueLimits limits;
    limits.bytes = 64 * 1024;
    PublishQueue queue(limits);
    const std::string text(40 * 1024, 'x');
    for (int i = 0; i < 3; ++i) {
        queue.Push({"t", "", 1, Metrics{{"Black Box/Last Kept", text}}});
    }
    EXPECT_EQ(queue.Size(), 1u);
    EXPECT_GE(queue.Bytes(), text.size());
    EXPECT_EQ(queue.Dropped(), 2u);
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing
