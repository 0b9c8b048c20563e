// Runs tasks one after another on a thread of its own, so that whoever hands one over never
// waits for it. At most a given number wait; one more is refused.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Varkon::QuilGateway {

class TaskThread {
public:
    explicit TaskThread(std::size_t most);
    /// Stop.
    ~TaskThread();
    TaskThread(const TaskThread&) = delete;
    TaskThread& operator=(const TaskThread&) = delete;

    /// Hands `task` over; false (and the task dropped) when `most` wait already or when stopped.
    bool Post(std::function<void()> task);
    /// Lets the task in hand end, drops those that wait and ends the thread.
    void Stop();

private:
    void Run();

    std::size_t most;
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::thread thread;
};

}  // namespace Varkon::QuilGateway
