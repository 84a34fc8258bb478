#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/batch_job.h"

namespace tessary {

// Per-file records for scripts: JSON Lines or CSV with a header row.
enum class ReportFormat { JsonLines, Csv };

// By the name's ending: .jsonl or .json for JSON Lines, .csv for CSV.
std::optional<ReportFormat> ReportFormatFor(const std::string& path);

std::string JsonRecord(const FileReport& report);  // one line, with its newline
std::string CsvRecord(const FileReport& report);   // one row, with its newline
extern const char* const kCsvHeader;

// Appends one record per file as files finish, each with one write, so that an
// interrupted run keeps the records of what it did. A new or empty CSV file
// gets the header row first.
class ReportWriter {
  public:
    ReportWriter() = default;
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // "" on success, else why the file can't be used.
    std::string Open(const std::string& path, ReportFormat format);
    // False when the record could not be written whole.
    bool Append(const FileReport& report);

  private:
    bool WriteAll(const std::string& text);

    int m_fd = -1;
    ReportFormat m_format = ReportFormat::JsonLines;
};

// "1,204 written, 3 failed, 12 skipped in 41 s".
std::string SummaryLine(std::size_t written, std::size_t failed, std::size_t skipped,
                        double seconds);
// "interrupted: 512 of 1,204 written".
std::string InterruptedLine(std::size_t written, std::size_t total);
// "41 s", "2.5 s", "3 min 20 s", "1 h 02 min".
std::string FormatDuration(double seconds);

}  // namespace tessary
