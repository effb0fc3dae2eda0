#include "progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

ProgressBar::ProgressBar(int total, std::FILE* terminal)
    : m_terminal(terminal),
      m_enabled(::isatty(::fileno(terminal)) == 1),
      m_total(total),
      m_begin(std::chrono::steady_clock::now()),
      m_lastDrawn(m_begin) {}

void ProgressBar::update(int done) {
    if (!m_enabled) return;
    const auto now = std::chrono::steady_clock::now();
    // A redraw per frame would cost more than the frame at small sizes.
    if (now - m_lastDrawn < std::chrono::milliseconds(100) && done != m_total) return;
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_begin).count();
    const double fps = seconds > 0 ? done / seconds : 0.0;
    constexpr int kWidth = 30;
    if (m_total > 0) {
        const int filled = std::min(kWidth, done * kWidth / m_total);
        const int left = fps > 0 ? static_cast<int>((m_total - done) / fps) : 0;
        std::fprintf(m_terminal, "\r[%s%s] %d/%d frames  %.1f fps  %d:%02d left ",
                     std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                     done, m_total, fps, left / 60, left % 60);
    } else {
        std::fprintf(m_terminal, "\r%d frames  %.1f fps  (Ctrl-C to stop) ", done, fps);
    }
    std::fflush(m_terminal);
}

void ProgressBar::finish() {
    if (m_enabled) std::fprintf(m_terminal, "\n");
}
