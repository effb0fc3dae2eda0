#pragma once

// The progress line for videos on standard error: frames done of total, frames per second and
// time left. Silent unless standard error is a terminal. Used by one thread.

#include <chrono>

class ProgressBar {
public:
    explicit ProgressBar(int total);  // total 0: unknown (a camera)
    void update(int done);
    void finish();

private:
    bool m_enabled;
    int m_total;
    std::chrono::steady_clock::time_point m_begin;
    std::chrono::steady_clock::time_point m_lastDrawn;
};
