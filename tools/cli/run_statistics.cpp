#include "run_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double RunStatistics::percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const auto index = static_cast<std::size_t>(std::max(rank, 1.0)) - 1;
    return values[std::min(index, values.size() - 1)];
}

double RunStatistics::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_begin).count();
}

std::string RunStatistics::report() const {
    const double seconds = elapsedSeconds();
    char text[512];
    std::snprintf(text, sizeof text,
                  "frames      %d\n"
                  "dropped     %d\n"
                  "latency     p50 %.2f ms, p95 %.2f ms, p99 %.2f ms\n"
                  "throughput  %.1f frames/s (%d frames in %.2f s)\n",
                  frames(), m_dropped, percentile(m_latenciesMs, 50), percentile(m_latenciesMs, 95),
                  percentile(m_latenciesMs, 99), seconds > 0 ? frames() / seconds : 0.0, frames(),
                  seconds);
    return text;
}
