#pragma once

// The progress line for videos on the user's terminal: frames done of total, frames per second and
// time left. Silent unless that is a terminal. Used by one thread.

#include <chrono>
#include <cstdio>

class ProgressBar {
public:
    // total 0: unknown (a camera). Draws on `terminal` when it is one.
    ProgressBar(int total, std::FILE* terminal);
    void update(int done);
    void finish();

private:
    std::FILE* m_terminal;
    bool m_enabled;
    int m_total;
    std::chrono::steady_clock::time_point m_begin;
    std::chrono::steady_clock::time_point m_lastDrawn;
};
