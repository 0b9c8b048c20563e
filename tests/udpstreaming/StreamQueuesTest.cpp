#include "udpstreaming/StreamQueues.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ExpectThrow.h"

namespace Varkon::QUILApi::UdpStreaming {
namespace {

using std::chrono::milliseconds;

StreamMeasurement Measurement(uint32_t blockId) {
    StreamMeasurement measurement;
    measurement.blockId = blockId;
    return measurement;
}

StreamError Error(uint32_t blockId) {
    return StreamError{blockId, EmptyContent, "Received a packet with empty content."};
}

template <class Entry>
std::vector<uint32_t> PopAllIds(StreamQueues& queues) {
    std::vector<uint32_t> ids;
    while (queues.Count<Entry>() != 0) {
        ids.push_back(queues.Pop<Entry>().blockId);
    }
    return ids;
}

TEST(StreamQueues, EmptyQueuesThrowTheirOwnText) {
    StreamCounters counters;
    StreamQueues queues(counters, false);
    EXPECT_TRUE(Testing::Throws<std::out_of_range>([&] { queues.Pop<StreamError>(); },
                                                   "Error queue is empty."));
    EXPECT_TRUE(Testing::Throws<std::out_of_range>([&] { queues.Pop<StreamMeasurement>(); },
                                                   "Measurement queue is empty."));
    EXPECT_TRUE(Testing::Throws<std::out_of_range>([&] { queues.Pop<TimedProfile>(); },
                                                   "Profile queue is empty."));
}

// Five entries into queues of capacity 2: the rule keeps two (errors that must not get lost:
// four), and counts the rest as dropped.
TEST(StreamQueues, TheOverflowRuleKeepsTheCapacityAndCountsTheDrops) {
    struct Case {
        const char* name;
        QueueOverflowPolicy policy;
        std::vector<uint32_t> measurements;
        std::vector<uint32_t> urgentErrors;
    } cases[] = {{"DropOldest", DropOldest, {4, 5}, {2, 3, 4, 5}},
                 {"DropNew", DropNew, {1, 2}, {1, 2, 3, 4}}};
    for (const Case& c : cases) {
        StreamCounters counters;
        StreamQueues queues(counters, false);
        queues.SetCapacity(2);
        queues.SetPolicy(c.policy);
        for (uint32_t id = 1; id <= 5; ++id) {
            queues.File(Measurement(id));
            queues.FileUrgent(Error(id));
        }
        EXPECT_EQ(PopAllIds<StreamMeasurement>(queues), c.measurements) << c.name;
        EXPECT_EQ(PopAllIds<StreamError>(queues), c.urgentErrors) << c.name;
        EXPECT_EQ(counters.Read().measurementsDropped, 3u) << c.name;
        EXPECT_EQ(counters.Read().errorsDropped, 1u) << c.name;
    }
}

TEST(StreamQueues, WaitsEndWhenAWakeIsFlushedOrFilingEnds) {
    StreamCounters counters;
    StreamQueues queues(counters, false);
    queues.SetFiling(true);
    auto waiter = std::async(std::launch::async,
                             [&] { return queues.PopFor<StreamMeasurement>(milliseconds::max()); });
    queues.File(Measurement(7));
    queues.FlushWake();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto popped = waiter.get();
    ASSERT_TRUE(popped.has_value());
    EXPECT_EQ(popped->blockId, 7u);

    auto anyWaiter =
        std::async(std::launch::async, [&] { return queues.WaitForAny(milliseconds::max()); });
    queues.SetFiling(false);
    ASSERT_EQ(anyWaiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(anyWaiter.get());
    queues.Close();
    queues.SetFiling(true);  // closed for good
    EXPECT_FALSE(queues.PopFor<TimedProfile>(milliseconds::max()).has_value());
}

TEST(StreamQueues, ASourceThatCanWaitLosesNothingToAFullQueue) {
    StreamCounters counters;
    StreamQueues queues(counters, true);
    queues.SetCapacity(1);
    queues.SetFiling(true);
    auto filer = std::async(std::launch::async, [&] {
        for (uint32_t id = 1; id <= 3; ++id) {
            queues.File(Measurement(id));
        }
        queues.File(Error(9));  // errors never wait
        queues.FlushWake();
    });
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        const auto measurement = queues.PopFor<StreamMeasurement>(std::chrono::seconds(10));
        ASSERT_TRUE(measurement.has_value()) << i;
        ids.push_back(measurement->blockId);
    }
    ASSERT_EQ(filer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(PopAllIds<StreamError>(queues), std::vector<uint32_t>{9});
    EXPECT_EQ(counters.Read().measurementsDropped, 0u);
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming
