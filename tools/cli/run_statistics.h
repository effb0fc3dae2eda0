#pragma once

// What --stats prints: frames, dropped frames (no result within the time-out), round-trip
// latency percentiles and throughput. Used by one thread.

#include <chrono>
#include <string>
#include <vector>

class RunStatistics {
public:
    RunStatistics() : m_begin(std::chrono::steady_clock::now()) {}
    void addFrame(double latencyMs) { m_latenciesMs.push_back(latencyMs); }
    void addDropped() { ++m_dropped; }
    int dropped() const { return m_dropped; }
    int frames() const { return static_cast<int>(m_latenciesMs.size()) + m_dropped; }
    double elapsedSeconds() const;
    std::string report() const;

    // The p-th percentile (0..100) of the values, nearest rank; 0 for none.
    static double percentile(std::vector<double> values, double p);

private:
    std::chrono::steady_clock::time_point m_begin;
    std::vector<double> m_latenciesMs;
    int m_dropped = 0;
};
