#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "batch/batch_job.h"
#include "batch/batch_process.h"

namespace tessary {

// Per-file records for scripts: JSON Lines or CSV with a header row.
enum class ReportFormat { JsonLines, Csv };

// By the name's ending: .jsonl or .json for JSON Lines, .csv for CSV.
std::optional<ReportFormat> ReportFormatFor(const std::string& path);

// With `found`, the record ends in the detectors' fields: combed, score,
// field, top, bottom.
std::string JsonRecord(const FileReport& report, const Detection* found = nullptr);
std::string CsvRecord(const FileReport& report, const Detection* found = nullptr);
extern const char* const kCsvHeader;
extern const char* const kCsvDetectionHeader;

// The table a detection run prints: a header line, then one line per picture,
// fields separated by tabs. A tab, line break or backslash in a path is
// written as \t, \n, \r or \\ so that every picture stays one line.
extern const char* const kDetectionHeader;
std::string DetectionLine(const std::string& path, const Detection& found);

// Appends one record per file as files finish, each with one write, so that an
// interrupted run keeps the records of what it did. A new or empty CSV file
// gets the header row first.
class ReportWriter {
  public:
    ReportWriter() = default;
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // "" on success, else why the file can't be used. `detection`: the
    // records carry the detectors' fields (and a new CSV file their header).
    // An existing file is appended to only when it holds this run's kind of
    // records: for CSV its header, for JSON Lines its first and last lines.
    std::string Open(const std::string& path, ReportFormat format, bool detection = false);
    // False when the record could not be written whole.
    bool Append(const FileReport& report, const Detection* found = nullptr);

  private:
    bool WriteAll(const std::string& text);

    int m_fd = -1;
    ReportFormat m_format = ReportFormat::JsonLines;
    bool m_bDetection = false;
};

// "1,204 written, 3 failed, 12 skipped in 41 s".
std::string SummaryLine(std::size_t written, std::size_t failed, std::size_t skipped,
                        double seconds);
// "interrupted: 512 of 1,204 written".
std::string InterruptedLine(std::size_t written, std::size_t total);
// "41 s", "2.5 s", "3 min 20 s", "1 h 02 min".
std::string FormatDuration(double seconds);

}  // namespace tessary
