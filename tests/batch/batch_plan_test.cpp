#include "batch/batch_plan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::TempDir;

void MakeTree(const TempDir& dir, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        const std::string path = dir.File(file);
        for (std::size_t at = path.find('/', dir.Path().size() + 1); at != std::string::npos;
             at = path.find('/', at + 1)) {
            ::mkdir(path.substr(0, at).c_str(), 0700);
        }
        ASSERT_TRUE(test::WriteBytes(path, {1})) << file;
    }
}

std::vector<std::string> Relatives(const std::vector<PlanInput>& files) {
    std::vector<std::string> names;
    for (const PlanInput& file : files) {
        names.push_back(file.relative);
    }
    return names;
}

TEST(ExpandInput, TakesImagesInByteOrderOfTheirPathsAndDescendsOnlyWhenAsked) {
    TempDir dir;
    MakeTree(dir, {"in/b.jpg", "in/a.JPG", "in/a/x.png", "in/a.b/y.bmp", "in/notes.txt", "in/c.GIF",
                   "in/d.jpeg.txt", "in/sub/deeper/z.jpeg", "in/e.Bmp"});
    const struct {
        bool recursive;
        std::vector<std::string> relatives;
    } cases[] = {
        {false, {"a.JPG", "b.jpg", "c.GIF", "e.Bmp"}},
        {true, {"a.JPG", "a.b/y.bmp", "a/x.png", "b.jpg", "c.GIF", "e.Bmp", "sub/deeper/z.jpeg"}},
    };
    for (const auto& c : cases) {
        std::vector<PlanInput> files;
        std::vector<InputProblem> problems;
        ExpandInput(dir.File("in"), c.recursive, files, problems);
        EXPECT_EQ(Relatives(files), c.relatives);
        EXPECT_TRUE(problems.empty());
        ASSERT_FALSE(files.empty());
        EXPECT_EQ(files[0].path, dir.File("in/a.JPG"));
    }
    // A file stands for itself, under its own name, whatever its extension.
    std::vector<PlanInput> files;
    std::vector<InputProblem> problems;
    ExpandInput(dir.File("in/notes.txt"), true, files, problems);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].relative, "notes.txt");
}

TEST(ExpandInput, ReportsASymbolicLinkLoopOnceAndGoesOn) {
    TempDir dir;
    MakeTree(dir, {"in/a.jpg", "in/sub/b.jpg"});
    ASSERT_EQ(::symlink("..", dir.File("in/sub/loop").c_str()), 0);
    ASSERT_EQ(::symlink("sub", dir.File("in/alias").c_str()), 0);  // no loop: walked again
    std::vector<PlanInput> files;
    std::vector<InputProblem> problems;
    ExpandInput(dir.File("in"), true, files, problems);
    EXPECT_EQ(Relatives(files), (std::vector<std::string>{"a.jpg", "alias/b.jpg", "sub/b.jpg"}));
    ASSERT_EQ(problems.size(), 2u);  // the loop below "alias" and the one below "sub"
    EXPECT_EQ(problems[0].path, dir.File("in/alias/loop"));
    EXPECT_EQ(problems[1].path, dir.File("in/sub/loop"));
}

// Sets a file's modification time, in seconds from the epoch.
void Touch(const std::string& path, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(MakePlan, SortsEachInputIntoRunOrRefusedWithItsReason) {
    TempDir dir;
    MakeTree(dir, {"in/new.jpg", "in/old.jpg", "in/same.jpg", "out/new.jpg", "out/old.jpg",
                   "out/same.jpg"});
    ASSERT_EQ(::mkfifo(dir.File("in/pipe.jpg").c_str(), 0600), 0);
    Touch(dir.File("in/new.jpg"), 2000);
    Touch(dir.File("out/new.jpg"), 1000);  // older than its input: made again
    Touch(dir.File("in/old.jpg"), 1000);
    Touch(dir.File("out/old.jpg"), 2000);  // newer: up to date
    Touch(dir.File("in/same.jpg"), 1000);
    Touch(dir.File("out/same.jpg"), 1000);  // as old: up to date, as cp -u has it
    const std::vector<std::string> names = {"new.jpg", "old.jpg", "same.jpg", "pipe.jpg",
                                            "gone.jpg"};
    const struct {
        bool update;
        std::vector<Disposition> dispositions;
    } cases[] = {
        {false,
         {Disposition::Run, Disposition::Run, Disposition::Run, Disposition::NotRegular,
          Disposition::Missing}},
        {true,
         {Disposition::Run, Disposition::UpToDate, Disposition::UpToDate, Disposition::NotRegular,
          Disposition::Missing}},
    };
    for (const auto& c : cases) {
        std::vector<PlanInput> inputs;
        for (const std::string& name : names) {
            inputs.push_back({dir.File("in/" + name), name});
        }
        const BatchPlan plan = MakePlan(inputs, {dir.File("out"), false, c.update});
        ASSERT_EQ(plan.jobs.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(plan.jobs[i].disposition, c.dispositions[i]) << names[i] << " " << c.update;
            EXPECT_EQ(plan.jobs[i].job.output, dir.File("out/" + names[i]));
        }
        EXPECT_EQ(DispositionReason(plan.jobs[4]), "No such file or directory");
    }
}

TEST(MakePlan, GroupsInputsWithOneOutputAndRefusesToReplaceAnInput) {
    TempDir dir;
    MakeTree(dir, {"a/f.jpg", "b/f.jpg", "c/g.jpg", "in/x.jpg"});
    std::vector<PlanInput> inputs = {{dir.File("a/f.jpg"), "f.jpg"},
                                     {dir.File("c/g.jpg"), "g.jpg"},
                                     {dir.File("b/f.jpg"), "f.jpg"},
                                     {dir.File("in/x.jpg"), "sub/x.jpg"}};
    const BatchPlan plan = MakePlan(inputs, {dir.File("out/"), false, false});
    EXPECT_EQ(plan.groupHeads, (std::vector<uint32_t>{0, 1, 3}));
    EXPECT_EQ(plan.jobs[0].nextInGroup, 2u);
    EXPECT_EQ(plan.jobs[2].nextInGroup, kNoJob);
    ASSERT_EQ(plan.duplicates.size(), 1u);
    EXPECT_EQ(plan.duplicates[0].path, dir.File("b/f.jpg"));
    EXPECT_EQ(plan.jobs[3].job.output, dir.File("out/sub/x.jpg"));
    EXPECT_EQ(plan.folders, (std::vector<std::string>{dir.File("out/"), dir.File("out/sub")}));

    // Into the inputs' own folder: refused unless allowed.
    for (const bool allowed : {false, true}) {
        const BatchPlan own = MakePlan({{dir.File("a/f.jpg"), "f.jpg"}}, {dir.File("a"), allowed});
        EXPECT_EQ(own.jobs[0].disposition, allowed ? Disposition::Run : Disposition::ReplacesInput);
    }
}

TEST(WithFormatExtension, ReplacesOnlyTheFileNamesOwnExtension) {
    const struct {
        const char* path;
        OutputFormat format;
        const char* expected;
    } cases[] = {
        {"out/a.gif", OutputFormat::Jpeg, "out/a.jpg"},
        {"out/A.JPEG", OutputFormat::Jpeg, "out/A.jpg"},
        {"out/a.jpg", OutputFormat::Bmp, "out/a.bmp"},
        {"out/a", OutputFormat::Bmp, "out/a.bmp"},
        {"out/x.y/a", OutputFormat::Jpeg, "out/x.y/a.jpg"},
        {"out/x.y\\a", OutputFormat::Jpeg, "out/x.y\\a.jpg"},
        {"out/.hidden", OutputFormat::Jpeg, "out/.hidden.jpg"},
        {"out/a.tar.gz", OutputFormat::Bmp, "out/a.tar.bmp"},
        {"out/a.", OutputFormat::Jpeg, "out/a.jpg"},
        {"a.gif", OutputFormat::Bmp, "a.bmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithFormatExtension(c.path, c.format), c.expected) << c.path;
    }
    EXPECT_EQ(OutputFormatNamed("bmp"), OutputFormat::Bmp);
    EXPECT_EQ(OutputFormatNamed("jpeg"), OutputFormat::Jpeg);
    EXPECT_EQ(OutputFormatNamed("BMP"), std::nullopt);
}

TEST(MakePlan, AChosenFormatNamesEveryOutputSoDuplicatesAndInputsAreSeen) {
    TempDir dir;
    MakeTree(dir, {"in/a.gif", "in/a.bmp", "in/b.jpg"});
    const std::vector<PlanInput> inputs = {{dir.File("in/a.gif"), "a.gif"},
                                           {dir.File("in/a.bmp"), "a.bmp"},
                                           {dir.File("in/b.jpg"), "b.jpg"}};
    PlanOptions options{dir.File("out"), false, false};
    const BatchPlan plan = MakePlan(inputs, options, OutputFormat::Bmp);
    ASSERT_EQ(plan.jobs.size(), 3u);
    EXPECT_EQ(plan.jobs[0].job.output, dir.File("out/a.bmp"));
    EXPECT_EQ(plan.jobs[0].nextInGroup, 1u);
    EXPECT_EQ(plan.duplicates.size(), 1u);
    EXPECT_EQ(plan.jobs[2].job.output, dir.File("out/b.bmp"));

    // Into the inputs' folder, a.gif's output is the input a.bmp; b.jpg's is new.
    options.outputFolder = dir.File("in");
    const BatchPlan own = MakePlan(inputs, options, OutputFormat::Bmp);
    EXPECT_EQ(own.jobs[0].disposition, Disposition::ReplacesInput);
    EXPECT_EQ(own.jobs[2].disposition, Disposition::Run);
    for (const PlannedJob& planned : plan.jobs) {
        EXPECT_EQ(planned.job.format, OutputFormat::Bmp) << planned.job.output;
    }
}

}  // namespace
}  // namespace tessary
