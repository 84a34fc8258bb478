#include "app/dialog_engine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

TEST(DialogEngine, TheWritesLineAndThePlanNameTheSameOutput) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.File("out").c_str(), 0700), 0);
    const std::string base = dir.Path();
    struct Case {
        std::string location;
        std::optional<OutputFormat> format;
        std::string expected;
    };
    const Case cases[] = {
        {base + "/out/", std::nullopt, base + "/out/a.b.JPG"},
        {base + "/out", std::nullopt, base + "/out/a.b.JPG"},  // an existing folder
        {base + "/new", std::nullopt, base + "/newa.b.JPG"},   // a name prefix
        {base + "/new/", OutputFormat::Png, base + "/new/a.b.png"},
        {base + "/out", OutputFormat::Bmp, base + "/out/a.b.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        DialogOptions options;
        options.format = c.format;
        const std::string input = "/in/a.b.JPG";
        EXPECT_EQ(OutputPathFor(input, c.location, options), c.expected);
        const DialogPlan plan = PlanDialogRun({input}, c.location, options);
        ASSERT_EQ(plan.run.batch.jobs.size(), 1u);
        EXPECT_EQ(plan.run.batch.jobs[0].job.output, c.expected);
    }
}

TEST(DialogEngine, SharedOutputsCountDifferentInputsOnly) {
    test::TempDir dir;
    for (const char* folder : {"a", "b", "c", "d", "e"}) {
        ASSERT_EQ(mkdir(dir.File(folder).c_str(), 0700), 0);
        for (const char* name : {"/x.jpg", "/y.jpg"}) {
            ASSERT_TRUE(test::WriteBytes(dir.File(folder + std::string(name)), {1}));
        }
    }
    struct Case {
        std::vector<std::string> inputs;
        std::size_t count;
        std::string first, second;
    };
    const Case cases[] = {
        {{"a/x.jpg", "a/x.jpg"}, 0, "", ""},  // listed twice: the same picture twice
        {{"a/x.jpg", "b/y.jpg"}, 0, "", ""},
        {{"a/x.jpg", "a/x.jpg", "b/x.jpg", "c/y.jpg", "d/y.jpg", "e/y.jpg"},
         2,
         "a/x.jpg",
         "b/x.jpg"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> inputs;
        for (const std::string& input : c.inputs) {
            inputs.push_back(dir.File(input));
        }
        const DialogPlan plan = PlanDialogRun(inputs, dir.File("out/"), {});
        const SharedOutputs& shared = plan.run.batch.shared;
        EXPECT_EQ(shared.count, c.count);
        EXPECT_EQ(shared.first, c.first.empty() ? "" : dir.File(c.first));
        EXPECT_EQ(shared.second, c.second.empty() ? "" : dir.File(c.second));
    }
}

TEST(DialogEngine, SummaryNamesFailuresThenWarningsUpToTen) {
    RunTally tally;
    tally.total = 14;
    tally.written = 12;
    for (int i = 0; i < 2; ++i) {
        FileReport failed;
        failed.input = "/in/f" + std::to_string(i) + ".jpg";
        failed.reason = "gone";
        tally.failures.push_back(failed);
    }
    for (int i = 0; i < 9; ++i) {
        FileReport damaged;
        damaged.input = "/in/w" + std::to_string(i) + ".jpg";
        damaged.warning = "warning: damaged data: rows from 288 on are grey";
        tally.warnings.push_back(damaged);
    }
    const std::string text = RunSummary(tally);
    EXPECT_EQ(text.substr(0, text.find('\n')), "12 of 14 files were written.");
    EXPECT_NE(text.find("\nf1.jpg: gone\nw0.jpg: warning: damaged data: rows from 288 on are grey"),
              std::string::npos);
    EXPECT_NE(text.find("\nw7.jpg: warning"), std::string::npos);
    EXPECT_EQ(text.find("w8.jpg"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\nand 1 more"));
    EXPECT_EQ(RunSummary({}), "");
}

TEST(DialogEngine, AutomaticBandsAreTheCommandLinesAndStrayOptionsStayOff) {
    DialogOptions options;
    options.autoClip = true;    // without Clip: nothing
    options.onlyCombed = true;  // without Deinterlace: nothing
    BatchSettings run = RunSettingsOf(options);
    EXPECT_FALSE(run.autoClip);
    EXPECT_FALSE(run.onlyCombed);
    EXPECT_TRUE(run.keepMetadata);
    options.m_bClip = 1;
    options.m_nClipTop = 9;
    run = RunSettingsOf(options);
    EXPECT_TRUE(run.autoClip);
    EXPECT_EQ(run.m_bClip, 0);
    EXPECT_EQ(run.m_nClipTop, 0);
}

}  // namespace
}  // namespace tessary
