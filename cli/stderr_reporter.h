#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace tessary::cli {

// Everything the tool says goes to standard error through here, one whole line
// at a time, so that lines from several workers never interleave. On a terminal
// (and unless quiet) a progress line is kept at the bottom, redrawn in place.
class StderrReporter {
  public:
    StderrReporter(std::size_t total, bool showProgress);

    // "tessary-batch: SUBJECT: TEXT".
    void Line(const std::string& subject, const std::string& text);
    // TEXT as it is, on a line of its own.
    void Plain(const std::string& text);
    void FileStarted(const std::string& input);
    void FileFinished();
    // Clears the progress line for good.
    void Finish();

  private:
    void DrawProgressLocked();
    void ClearProgressLocked();

    std::mutex m_mutex;
    std::size_t m_total;
    std::size_t m_done = 0;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::string m_current;
    bool m_bShowProgress;
    bool m_bProgressShown = false;
};

// Whether a progress line belongs on standard error.
bool StderrIsTerminal();

}  // namespace tessary::cli
