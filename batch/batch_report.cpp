#include "batch/batch_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "batch/batch_process.h"

namespace tessary {

namespace {

bool EndsWith(const std::string& text, const char* tail) {
    const std::size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

// Length of the valid UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string. File names are bytes: a byte that is not part of valid UTF-8
// becomes U+FFFD, since JSON text must be UTF-8.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            out += "\\ufffd";
        }
        ++i;
    }
    return out + "\"";
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

const char* YesNo(bool yes) {
    return yes ? "yes" : "no";
}

std::string Score(double score) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", score);
    return text;
}

std::string TableField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Bytes at each end of an existing JSON Lines file looked at before appending.
constexpr std::size_t kReportEdge = std::size_t{1} << 20;

// A line as JsonRecord writes it: with the detectors' fields exactly when `detection`.
bool IsOwnRecord(std::string_view line, bool detection) {
    return line.starts_with("{\"input\":") && line.ends_with("}") &&
           (line.find(",\"combed\":") != std::string_view::npos) == detection;
}

bool ReadAt(int fd, std::string& text, off_t offset) {
    return ::pread(fd, text.data(), text.size(), offset) == ssize_t(text.size());
}

// Whether a non-empty file's first and last lines are this run's kind of
// record, the last one whole: appending to anything else would spoil it, or
// mix records a reader takes for one kind.
bool HoldsOwnJsonLines(int fd, off_t size, bool detection) {
    const std::size_t edge = std::min<uint64_t>(uint64_t(size), kReportEdge);
    std::string head(edge, '\0');
    std::string tail(edge, '\0');
    if (!ReadAt(fd, head, 0) || !ReadAt(fd, tail, size - off_t(edge)) || tail.back() != '\n') {
        return false;
    }
    const std::size_t firstEnd = head.find('\n');
    tail.pop_back();
    const std::size_t lastStart = tail.rfind('\n');
    if (firstEnd == std::string::npos || (lastStart == std::string::npos && edge < size_t(size))) {
        return false;  // a line longer than anything this program writes
    }
    const std::string_view last =
        std::string_view(tail).substr(lastStart == std::string::npos ? 0 : lastStart + 1);
    return IsOwnRecord(std::string_view(head).substr(0, firstEnd), detection) &&
           IsOwnRecord(last, detection);
}

}  // namespace

const char* const kCsvHeader = "input,output,format,width,height,repairs,status,reason,ms\n";
const char* const kCsvDetectionHeader =
    "input,output,format,width,height,repairs,status,reason,ms,combed,score,field,top,bottom\n";
const char* const kDetectionHeader = "file\tcombed\tscore\tfield\ttop\tbottom\n";

std::string DetectionLine(const std::string& path, const Detection& found) {
    return TableField(path) + "\t" + YesNo(found.combing.combed) + "\t" +
           Score(found.combing.score) + "\t" + NameOf(found.combing.keep) + "\t" +
           std::to_string(found.bands.top) + "\t" + std::to_string(found.bands.bottom) +
           // A word after the six fields, so that readers of six fields still work.
           (found.bands.blank ? "\tblank\n" : "\n");
}

std::optional<ReportFormat> ReportFormatFor(const std::string& path) {
    if (EndsWith(path, ".jsonl") || EndsWith(path, ".json")) {
        return ReportFormat::JsonLines;
    }
    if (EndsWith(path, ".csv")) {
        return ReportFormat::Csv;
    }
    return std::nullopt;
}

std::string JsonRecord(const FileReport& r, const Detection* found) {
    std::string extra;
    if (found != nullptr) {
        extra = std::string(",\"combed\":") + (found->combing.combed ? "true" : "false") +
                ",\"score\":" + Score(found->combing.score) + ",\"field\":\"" +
                NameOf(found->combing.keep) + "\",\"top\":" + std::to_string(found->bands.top) +
                ",\"bottom\":" + std::to_string(found->bands.bottom) +
                (found->bands.blank ? ",\"blank\":true" : "");
    }
    return "{\"input\":" + JsonString(r.input) + ",\"output\":" + JsonString(r.output) +
           ",\"format\":" + JsonString(r.format) + ",\"width\":" + std::to_string(r.width) +
           ",\"height\":" + std::to_string(r.height) + ",\"repairs\":" + JsonString(r.repairs) +
           ",\"status\":\"" + FileStatusName(r.status) + "\",\"reason\":" + JsonString(r.reason) +
           ",\"ms\":" + Milliseconds(r.ms) + extra + "}\n";
}

std::string CsvRecord(const FileReport& r, const Detection* found) {
    std::string extra;
    if (found != nullptr) {
        extra = std::string(",") + YesNo(found->combing.combed) + "," +
                Score(found->combing.score) + "," + NameOf(found->combing.keep) + "," +
                std::to_string(found->bands.top) + "," + std::to_string(found->bands.bottom);
    }
    return CsvField(r.input) + "," + CsvField(r.output) + "," + r.format + "," +
           std::to_string(r.width) + "," + std::to_string(r.height) + "," + CsvField(r.repairs) +
           "," + FileStatusName(r.status) + "," + CsvField(r.reason) + "," + Milliseconds(r.ms) +
           extra + "\n";
}

ReportWriter::~ReportWriter() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::string ReportWriter::Open(const std::string& path, ReportFormat format, bool detection) {
    m_format = format;
    m_bDetection = detection;
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        return std::strerror(errno);
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        return std::strerror(errno);
    }
    if (format != ReportFormat::Csv) {
        if (info.st_size == 0 || HoldsOwnJsonLines(m_fd, info.st_size, detection)) {
            return {};
        }
        return "it holds other lines than the records this run writes";
    }
    const std::string header = detection ? kCsvDetectionHeader : kCsvHeader;
    if (info.st_size == 0) {
        return WriteAll(header) ? std::string() : std::strerror(errno);
    }
    // Rows of another layout under the file's header would leave a table no
    // reader can take apart.
    std::string first(header.size(), '\0');
    if (::pread(m_fd, first.data(), first.size(), 0) != ssize_t(first.size()) || first != header) {
        return "it holds other columns than this run writes";
    }
    return {};
}

bool ReportWriter::Append(const FileReport& report, const Detection* found) {
    if (m_format == ReportFormat::Csv && m_bDetection && found == nullptr) {
        // A file the detectors could not look at keeps the columns in line, empty.
        std::string row = CsvRecord(report);
        row.insert(row.size() - 1, ",,,,,");
        return WriteAll(row);
    }
    return WriteAll(m_format == ReportFormat::Csv ? CsvRecord(report, found)
                                                  : JsonRecord(report, found));
}

bool ReportWriter::WriteAll(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string FormatDuration(double seconds) {
    char text[48];
    if (seconds < 10) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        return text;
    }
    const long whole = std::lround(seconds);
    if (whole < 60) {
        return std::to_string(whole) + " s";
    }
    if (whole < 3600) {
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole / 60 % 60);
    }
    return text;
}

std::string SummaryLine(std::size_t written, std::size_t failed, std::size_t skipped,
                        double seconds) {
    return FormatCount(written) + " written, " + FormatCount(failed) + " failed, " +
           FormatCount(skipped) + " skipped in " + FormatDuration(seconds);
}

std::string InterruptedLine(std::size_t written, std::size_t total) {
    return "interrupted: " + FormatCount(written) + " of " + FormatCount(total) + " written";
}

}  // namespace tessary
