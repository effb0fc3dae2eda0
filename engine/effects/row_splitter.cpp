#include "row_splitter.h"

namespace facelume {

RowSplitter::RowSplitter() : m_helper([this] { helperLoop(); }) {}

RowSplitter::~RowSplitter() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_helper.join();
}

void RowSplitter::run(int rows, const Job& job) {
    const int middle = rows / 2;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_job = &job;
        m_first = middle;
        m_end = rows;
    }
    m_changed.notify_all();
    job(0, middle);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_job == nullptr; });
}

void RowSplitter::helperLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_job != nullptr || m_stopping; });
        if (m_stopping) return;
        const Job& job = *m_job;
        const int first = m_first;
        const int end = m_end;
        lock.unlock();
        job(first, end);
        lock.lock();
        m_job = nullptr;
        m_changed.notify_all();
    }
}

}  // namespace facelume
