#include "TaskThread.h"

namespace Varkon::QuilGateway {

TaskThread::TaskThread(std::size_t most) : most(most), thread([this] { Run(); }) {}

TaskThread::~TaskThread() {
    Stop();
}

bool TaskThread::Post(std::function<void()> task) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (stopping || tasks.size() >= most) {
            return false;
        }
        tasks.push_back(std::move(task));
    }
    posted.notify_one();
    return true;
}

void TaskThread::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        tasks.clear();
    }
    posted.notify_one();
    if (thread.joinable()) {
        thread.join();
    }
}

void TaskThread::Run() {
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex);
            posted.wait(lock, [&] { return stopping || !tasks.empty(); });
            if (stopping) {
                return;
            }
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
    }
}

}  // namespace Varkon::QuilGateway
