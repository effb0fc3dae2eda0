#pragma once

// The tail of what a child process wrote: appended by the reading thread, read by any thread.

#include <mutex>
#include <string>

namespace facelume {

class ServiceOutput {
public:
    void append(const char* bytes, std::size_t count) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_text.append(bytes, count);
        if (m_text.size() > kKeep) m_text.erase(0, m_text.size() - kKeep);
    }
    std::string text() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    void clear() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_text.clear();
    }

private:
    static constexpr std::size_t kKeep = 64 * 1024;
    mutable std::mutex m_mutex;
    std::string m_text;
};

}  // namespace facelume
