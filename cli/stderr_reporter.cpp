#include "cli/stderr_reporter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "batch/batch_process.h"
#include "batch/batch_report.h"
#include "cli/cli_options.h"

namespace tessary::cli {

namespace {

void WriteAll(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere left to complain to
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

std::size_t TerminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

StderrReporter::StderrReporter(std::size_t total, bool showProgress)
    : m_total(total), m_bShowProgress(showProgress) {}

void StderrReporter::Line(const std::string& subject, const std::string& text) {
    std::lock_guard lock(m_mutex);
    ClearProgressLocked();
    WriteAll(std::string(kProgramName) + ": " + subject + ": " + text + "\n");
    DrawProgressLocked();
}

void StderrReporter::Plain(const std::string& text) {
    std::lock_guard lock(m_mutex);
    ClearProgressLocked();
    WriteAll(text + "\n");
    DrawProgressLocked();
}

void StderrReporter::FileStarted(const std::string& input) {
    std::lock_guard lock(m_mutex);
    m_current = input;
    DrawProgressLocked();
}

void StderrReporter::FileFinished() {
    std::lock_guard lock(m_mutex);
    ++m_done;
    DrawProgressLocked();
}

void StderrReporter::Finish() {
    std::lock_guard lock(m_mutex);
    ClearProgressLocked();
    m_bShowProgress = false;
}

void StderrReporter::DrawProgressLocked() {
    if (!m_bShowProgress) {
        return;
    }
    const std::size_t percent = m_total == 0 ? 100 : m_done * 100 / m_total;
    std::string line =
        FormatCount(m_done) + "/" + FormatCount(m_total) + " " + std::to_string(percent) + "% ";
    // Speed and time left once there is something to go by.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    if (m_done > 0 && seconds > 0) {
        const double rate = static_cast<double>(m_done) / seconds;
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.1f files/s ", rate);
        line +=
            speed +
            FormatDuration(static_cast<double>(m_total > m_done ? m_total - m_done : 0) / rate) +
            " left ";
    }
    // Stay within one terminal row: a wrapped line could not be redrawn with \r.
    const std::size_t columns = TerminalColumns();
    const std::size_t room = columns > line.size() + 1 ? columns - line.size() - 1 : 0;
    if (m_current.size() <= room) {
        line += m_current;
    } else if (room > 3) {
        // Keep the end of the path, starting on a whole UTF-8 character.
        std::size_t start = m_current.size() - (room - 3);
        while (start < m_current.size() &&
               (static_cast<unsigned char>(m_current[start]) & 0xC0) == 0x80) {
            ++start;
        }
        line += "..." + m_current.substr(start);
    }
    WriteAll("\r\x1b[K" + line);
    m_bProgressShown = true;
}

void StderrReporter::ClearProgressLocked() {
    if (m_bProgressShown) {
        WriteAll("\r\x1b[K");
        m_bProgressShown = false;
    }
}

}  // namespace tessary::cli
