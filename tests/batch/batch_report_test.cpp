#include "batch/batch_report.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

FileReport Sample(const std::string& input) {
    FileReport report;
    report.input = input;
    report.output = "/out/x.jpg";
    report.status = FileStatus::Written;
    report.format = "GIF";
    report.width = 720;
    report.height = 576;
    report.repairs = "deinterlace,clip";
    report.ms = 12.345;
    return report;
}

TEST(JsonRecord, EscapesWhatJsonNeedsAndKeepsValidUtf8) {
    const struct {
        std::string input;
        std::string json;
    } cases[] = {
        {"plain.gif", "\"plain.gif\""},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        {"line\nbreak\ttab\x01", "\"line\\nbreak\\u0009tab\\u0001\""},
        {"фото.gif", "\"фото.gif\""},
        {"bad\xff\xc3.gif", "\"bad\\ufffd\\ufffd.gif\""},  // a stray byte, a cut sequence
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},     // an encoded surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonRecord(Sample(c.input)),
                  "{\"input\":" + c.json +
                      ",\"output\":\"/out/x.jpg\",\"format\":\"GIF\",\"width\":720,"
                      "\"height\":576,\"repairs\":\"deinterlace,clip\",\"status\":\"written\","
                      "\"reason\":\"\",\"ms\":12.3}\n");
    }
}

TEST(CsvRecord, QuotesOnlyFieldsThatNeedIt) {
    const struct {
        std::string input;
        std::string field;
    } cases[] = {
        {"plain.gif", "plain.gif"},
        {"a,b.gif", "\"a,b.gif\""},
        {"say \"hi\".gif", "\"say \"\"hi\"\".gif\""},
        {"two\nlines.gif", "\"two\nlines.gif\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CsvRecord(Sample(c.input)),
                  c.field + ",/out/x.jpg,GIF,720,576,\"deinterlace,clip\",written,,12.3\n");
    }
}

TEST(ReportWriter, AppendsToAnExistingReportAndWritesTheCsvHeaderOnce) {
    test::TempDir dir;
    for (int run = 0; run < 2; ++run) {
        ReportWriter writer;
        ASSERT_EQ(writer.Open(dir.File("r.csv"), ReportFormat::Csv), "");
        ASSERT_TRUE(writer.Append(Sample("a.gif")));
    }
    const test::Bytes bytes = test::ReadBytes(dir.File("r.csv"));
    const std::string row = CsvRecord(Sample("a.gif"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kCsvHeader + row + row);
    EXPECT_NE(ReportWriter().Open(dir.File("no/such/folder.csv"), ReportFormat::Csv), "");
}

TEST(ReportWriter, RefusesToAppendRowsOfAnotherLayoutToACsvReport) {
    const struct {
        bool firstDetects, thenDetects, appends;
    } cases[] = {
        {false, false, true}, {true, true, true}, {false, true, false}, {true, false, false}};
    for (const auto& c : cases) {
        test::TempDir dir;
        ASSERT_EQ(ReportWriter().Open(dir.File("r.csv"), ReportFormat::Csv, c.firstDetects), "");
        const test::Bytes before = test::ReadBytes(dir.File("r.csv"));
        EXPECT_EQ(ReportWriter().Open(dir.File("r.csv"), ReportFormat::Csv, c.thenDetects).empty(),
                  c.appends);
        EXPECT_EQ(test::ReadBytes(dir.File("r.csv")), before);
    }
}

TEST(ReportWriter, AppendsJsonLinesOnlyToAReportOfItsOwnKind) {
    Detection found;
    const std::string own = JsonRecord(Sample("a.gif"));
    const std::string detected = JsonRecord(Sample("a.gif"), &found);
    const std::string longName(100000, 'x');  // a first line longer than the look at each end
    const struct {
        const char* what;
        std::string before;
        bool detection;
        bool appends;
    } cases[] = {
        {"empty", "", false, true},
        {"its records", own + own, false, true},
        {"detection records", detected, true, true},
        {"detection records under a repair run", detected, false, false},
        {"repair records under a detection run", own, true, false},
        {"a JSON document", "{\n  \"input\": 1\n}\n", false, false},
        {"another program's lines", "{\"a\":1}\n", false, false},
        {"its record cut short", own.substr(0, own.size() - 5), false, false},
        {"a foreign last line", own + "notes\n", false, false},
        {"a foreign first line", "notes\n" + own, false, false},
        {"a long record", JsonRecord(Sample(longName)) + own, false, true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("r.json");
        ASSERT_TRUE(test::WriteBytes(path, test::Bytes(c.before.begin(), c.before.end())));
        ReportWriter writer;
        EXPECT_EQ(writer.Open(path, ReportFormat::JsonLines, c.detection).empty(), c.appends)
            << c.what;
        if (!c.appends) {
            EXPECT_EQ(test::ReadBytes(path), test::Bytes(c.before.begin(), c.before.end()))
                << c.what;
        }
    }
}

TEST(DetectionLine, KeepsEveryPictureOnOneLineOfSixFields) {
    Detection found;
    found.combing = {2.5, true, Field::Bottom};
    found.bands = {4, 17};
    const struct {
        std::string path;
        std::string shown;
    } cases[] = {
        {"plain.bmp", "plain.bmp"},
        {"tab\there.bmp", "tab\\there.bmp"},
        {"two\nlines\r.bmp", "two\\nlines\\r.bmp"},
        {"back\\slash.bmp", "back\\\\slash.bmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectionLine(c.path, found), c.shown + "\tyes\t2.50\tbottom\t4\t17\n");
    }
    EXPECT_EQ(JsonRecord(Sample("a.gif"), &found).substr(JsonRecord(Sample("a.gif")).size() - 2),
              ",\"combed\":true,\"score\":2.50,\"field\":\"bottom\",\"top\":4,\"bottom\":17}\n");
    // A blank picture: a word after the six fields, which readers of six fields pass over.
    found.bands = {0, 0, true};
    EXPECT_EQ(DetectionLine("b.bmp", found), "b.bmp\tyes\t2.50\tbottom\t0\t0\tblank\n");
    EXPECT_NE(JsonRecord(Sample("a.gif"), &found).find("\"bottom\":0,\"blank\":true}"),
              std::string::npos);
}

TEST(SummaryLine, CountsWithThousandsAndATimeToRead) {
    EXPECT_EQ(SummaryLine(1204, 3, 12, 41.2), "1,204 written, 3 failed, 12 skipped in 41 s");
    EXPECT_EQ(InterruptedLine(512, 1204), "interrupted: 512 of 1,204 written");
    const struct {
        double seconds;
        const char* text;
    } durations[] = {{0.04, "0.0 s"},
                     {2.46, "2.5 s"},
                     {59.4, "59 s"},
                     {200, "3 min 20 s"},
                     {3725, "1 h 02 min"}};
    for (const auto& d : durations) {
        EXPECT_EQ(FormatDuration(d.seconds), d.text);
    }
    EXPECT_EQ(ReportFormatFor("r.jsonl"), ReportFormat::JsonLines);
    EXPECT_EQ(ReportFormatFor("r.json"), ReportFormat::JsonLines);
    EXPECT_EQ(ReportFormatFor("r.csv"), ReportFormat::Csv);
    EXPECT_EQ(ReportFormatFor("r.txt"), std::nullopt);
}

}  // namespace
}  // namespace tessary
