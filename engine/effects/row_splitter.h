#pragma once

// Shares a row-wise job between the calling thread and one helper thread, half the rows each,
// and returns when both halves are done. The helper sleeps on a condition variable between jobs
// and never spins, so an idle engine, or one between frames, costs no CPU (OpenCV's own worker
// pools spin before they sleep, which cost more process time than they saved). One job at a
// time: run() is not re-entrant and is called from one thread.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace facelume {

class RowSplitter {
public:
    using Job = std::function<void(int first, int end)>;

    RowSplitter();
    ~RowSplitter();
    RowSplitter(const RowSplitter&) = delete;
    RowSplitter& operator=(const RowSplitter&) = delete;

    // Calls job(first, end) over the rows [0, rows): the lower half on the calling thread, the
    // upper half on the helper.
    void run(int rows, const Job& job);

private:
    void helperLoop();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    const Job* m_job = nullptr;  // the helper's pending half while set
    int m_first = 0;
    int m_end = 0;
    bool m_stopping = false;
    std::thread m_helper;
};

}  // namespace facelume
