#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_run.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

// Hears nothing: the runs in-process are judged by what they write.
class SilentListener final : public RunListener {
  public:
    void FileStarted(const Job&) override {}
    void FileFinished(const FileReport&) override {}
};

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    std::vector<std::string> errLines() const {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

// Starts the real binary with stdout and stderr going to files (or stderr to `errFd`).
pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
            const std::string& errPath, int errFd = -1, const std::string& inPath = "/dev/null") {
    std::vector<std::string> argv = {TESSARY_BATCH_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (errFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = test::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool to its end, with `input` as its standard input.
Outcome RunTool(const std::vector<std::string>& args, const std::string& input = "") {
    TempDir logs;
    EXPECT_TRUE(test::WriteBytes(logs.File("in"), Bytes(input.begin(), input.end())));
    const pid_t pid = Spawn(args, logs.File("out"), logs.File("err"), -1, logs.File("in"));
    EXPECT_GT(pid, 0);
    Outcome outcome;
    outcome.status = Wait(pid);
    outcome.out = ReadText(logs.File("out"));
    outcome.err = ReadText(logs.File("err"));
    return outcome;
}

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A BMP file built byte by byte: 24 bits, or 8 bits with a grey colour table.
// `grey(x, y)` gives each pixel, y counted from the top.
Bytes BuildBmp(int32_t w, int32_t h, int bits, const std::function<uint8_t(int, int)>& grey) {
    const uint32_t stride = ((static_cast<uint32_t>(w) * bits + 31) / 32) * 4;
    const uint32_t table = bits == 8 ? 256 * 4 : 0;
    const uint32_t offset = 54 + table;
    Bytes b(offset + stride * static_cast<uint32_t>(h), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, offset);
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(w));
    Put32(b, 22, static_cast<uint32_t>(h));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint32_t>(bits));
    for (uint32_t i = 0; i < table / 4; ++i) {
        b[54 + i * 4] = b[55 + i * 4] = b[56 + i * 4] = static_cast<uint8_t>(i);
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &b[offset + stride * static_cast<uint32_t>(h - 1 - y)];
        for (int x = 0; x < w; ++x) {
            const uint8_t v = grey(x, y);
            if (bits == 8) {
                row[x] = v;
            } else {
                row[x * 3] = v;
                row[x * 3 + 1] = static_cast<uint8_t>(255 - v);
                row[x * 3 + 2] = static_cast<uint8_t>(v / 2);
            }
        }
    }
    return b;
}

// Two fields out of step, as in a still from interlaced video.
Bytes Frame(int32_t w, int32_t h, int seed) {
    return BuildBmp(w, h, 24, [seed](int x, int y) {
        return static_cast<uint8_t>((x + seed + (y % 2) * 7) * 5 + y);
    });
}

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
}

std::string Line(const std::string& subject, const std::string& text) {
    return "tessary-batch: " + subject + ": " + text;
}

TEST(TessaryBatchUsage, HelpAndVersionExitZero) {
    const Outcome help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tessary-batch [OPTIONS] [FILE...]"), std::string::npos);
    EXPECT_NE(help.out.find("  -c,--clip TOP:BOTTOM "), std::string::npos);
    EXPECT_NE(help.out.find("  --overwrite-inputs "), std::string::npos);
    EXPECT_EQ(RunTool({"-h"}).out, help.out);

    const Outcome version = RunTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tessary-batch 1.0.0\n");
}

TEST(TessaryBatchUsage, UsageErrorsExitTwoWithOneReasonAndAHint) {
    TempDir dir;
    const std::string in = dir.File("a.bmp");
    ASSERT_TRUE(test::WriteBytes(in, Frame(8, 8, 0)));
    const std::string out = dir.File("out");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-o", out},
        {in},
        {"--bogus", "-o", out, in},
        {"-o", out, "-c", "8", in},
        {"-o", out, "-c", "8:", in},
        {"-o", out, "-c", ":4", in},
        {"-o", out, "-c", "481:0", in},
        {"-o", out, "-c", "0:481", in},
        {"-o", out, "-c", "-1:2", in},
        {"-o", out, "-c", "8:4:2", in},
        {"-o", out, "-c", "+8:4", in},
        {"-o", out, "-c", " 8:4", in},
        {"-o", out, "-j", "0", in},
        {"-o", out, "-j", "-3", in},
        {"-o", out, "-j", "two", in},
        {"-o", "", in},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) {
            shown += "[" + a + "] ";
        }
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.status, 2) << shown;
        const auto lines = o.errLines();
        ASSERT_EQ(lines.size(), 2u) << shown << o.err;
        EXPECT_EQ(lines[0].rfind("tessary-batch: ", 0), 0u) << shown;
        EXPECT_NE(lines[1].find("--help"), std::string::npos) << shown;
    }
    EXPECT_FALSE(test::FileExists(out));
}

TEST(TessaryBatchUsage, ClipAcceptsEachBoundAndOptionOrderDoesNotMatter) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), Frame(16, 12, 3)));
    const Outcome first =
        RunTool({"-c", "0:480", "-s", "-d", "-o", dir.File("o1"), dir.File("a.bmp")});
    const Outcome second =
        RunTool({dir.File("a.bmp"), "-d", "-o", dir.File("o2"), "--soften", "--clip=0:480"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(test::ReadBytes(dir.File("o1/a.bmp")), test::ReadBytes(dir.File("o2/a.bmp")));
    EXPECT_EQ(RunTool({"-o", dir.File("o3"), "-c", "480:0", dir.File("a.bmp")}).status, 0);
}

TEST(TessaryBatchRun, EachFailingFileGetsOneLineAndTheRunGoesOn) {
    TempDir dir;
    const std::string out = dir.File("deep/er/out");  // made with its parents
    MakeDir(dir.File("folder"));
    ASSERT_TRUE(test::WriteBytes(dir.File("notes.jpg"), Bytes(300, 'x')));
    ASSERT_TRUE(test::WriteBytes(dir.File("good.bmp"), Frame(20, 10, 1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("blocked.bmp"), Frame(20, 10, 2)));
    // 40000 x 40000 at 24 bits asks for far more than the limit; the header alone says so.
    Bytes huge = BuildBmp(1, 1, 24, [](int, int) { return 0; });
    Put32(huge, 18, 40000);
    Put32(huge, 22, 40000);
    ASSERT_TRUE(test::WriteBytes(dir.File("huge.bmp"), huge));
    ASSERT_EQ(::system(("mkdir -p '" + out + "/blocked.bmp'").c_str()), 0);

    const Outcome o = RunTool({"-q", "-j", "1", "-d", "-o", out, dir.File("missing.gif"),
                               dir.File("folder"), dir.File("notes.jpg"), dir.File("huge.bmp"),
                               dir.File("blocked.bmp"), dir.File("good.bmp")});
    EXPECT_EQ(o.status, 1);
    std::vector<std::string> lines = o.errLines();
    std::vector<std::string> expected = {
        Line(dir.File("missing.gif"), "No such file or directory"),
        Line(dir.File("notes.jpg"), "not a JPEG, GIF, BMP, PNG or TIFF image"),
        Line(dir.File("huge.bmp"), "the image exceeds the size limit of 1 GiB of pixel data"),
        Line(dir.File("blocked.bmp"), "cannot write " + out + "/blocked.bmp: Is a directory"),
    };
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(test::FileExists(out + "/good.bmp"));
    for (const char* absent : {"missing.gif", "folder", "notes.jpg", "huge.bmp"}) {
        EXPECT_FALSE(test::FileExists(out + "/" + absent)) << absent;
    }
}

TEST(TessaryBatchRun, AllWrittenEndsWithTheSummaryAloneAndExitsZero) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), Frame(20, 10, 1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("b.jpg"), Frame(20, 10, 2)));  // a BMP in disguise
    const Outcome o = RunTool(
        {"-d", "-c", "2:2", "-s", "-o", dir.File("out/"), dir.File("a.bmp"), dir.File("b.jpg")});
    EXPECT_EQ(o.status, 0);
    // Not a terminal: no progress line, only the summary.
    EXPECT_EQ(o.err.rfind("2 written, 0 failed, 0 skipped in ", 0), 0u) << o.err;
    EXPECT_EQ(o.errLines().size(), 1u) << o.err;
    EXPECT_EQ(ReadText(dir.File("out/a.bmp")).substr(0, 2), "BM");
    EXPECT_EQ(ReadText(dir.File("out/b.jpg")).substr(0, 3), "\xFF\xD8\xFF");
}

TEST(TessaryBatchRun, OutputFolderThatCannotBeMadeFailsEveryFile) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), Frame(8, 8, 1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("plain"), Bytes(4, 0)));
    const Outcome o = RunTool({"-q", "-o", dir.File("plain/sub"), dir.File("a.bmp")});
    EXPECT_EQ(o.status, 1);
    ASSERT_EQ(o.errLines().size(), 1u) << o.err;
    EXPECT_EQ(o.errLines()[0].rfind(Line(dir.File("plain/sub"), "cannot create"), 0), 0u) << o.err;
}

TEST(TessaryBatchRun, EightBitImagesAreWidenedForTheRepairsAndKeptWithout) {
    TempDir dir;
    const Bytes grey = BuildBmp(6, 6, 8, [](int x, int) { return static_cast<uint8_t>(x * 40); });
    ASSERT_TRUE(test::WriteBytes(dir.File("grey.bmp"), grey));
    for (const bool repair : {true, false}) {
        std::vector<std::string> args = {"-q", "-o", dir.File("out"), dir.File("grey.bmp")};
        if (repair) {
            args.push_back("-d");
        }
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(test::ReadBytes(dir.File("out/grey.bmp"))[28], repair ? 24 : 8);
    }
}

TEST(TessaryBatchRun, InputsAreNotReplacedUnlessAllowed) {
    TempDir dir;
    const Bytes original = Frame(10, 10, 4);
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), original));
    // The same file under another spelling is found by device and inode.
    for (const std::string& input : {dir.File("a.bmp"), dir.Path() + "/./a.bmp"}) {
        const Outcome o = RunTool({"-q", "-d", "-o", dir.Path(), input});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.errLines(),
                  std::vector<std::string>{Line(input, "the output " + dir.File("a.bmp") +
                                                           " would replace an input file "
                                                           "(--overwrite-inputs allows it)")});
        EXPECT_EQ(test::ReadBytes(dir.File("a.bmp")), original);
    }
    const Outcome allowed =
        RunTool({"-d", "--overwrite-inputs", "-o", dir.Path(), dir.File("a.bmp")});
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(test::ReadBytes(dir.File("a.bmp")), original);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.bmp"});
}

TEST(TessaryBatchRun, OutputsAreTheSameBytesWhateverTheJobsAndTheLaterDuplicateWins) {
    TempDir dir;
    MakeDir(dir.File("a"));
    MakeDir(dir.File("b"));
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i) {
        inputs.push_back(dir.File("a/f" + std::to_string(i) + (i % 2 ? ".bmp" : ".jpg")));
        ASSERT_TRUE(test::WriteBytes(inputs.back(), Frame(40, 30, i)));
    }
    // Duplicates by name: b/f1.bmp comes later and wins; b/f2.jpg is not an image,
    // so the earlier a/f2.jpg's output stays, as in a one-by-one run.
    ASSERT_TRUE(test::WriteBytes(dir.File("b/f1.bmp"), Frame(40, 30, 99)));
    ASSERT_TRUE(test::WriteBytes(dir.File("b/f2.jpg"), Bytes(100, 'x')));
    inputs.push_back(dir.File("b/f1.bmp"));
    inputs.push_back(dir.File("b/f2.jpg"));
    inputs.insert(inputs.begin(), dir.File("b/f1.bmp"));  // and once before the a/ one

    std::vector<std::string> one = {"-d", "-c", "3:2", "-s", "-j", "1", "-o", dir.File("one")};
    std::vector<std::string> four = {"-d", "-c", "3:2", "-s", "-j", "4", "-o", dir.File("four")};
    one.insert(one.end(), inputs.begin(), inputs.end());
    four.insert(four.end(), inputs.begin(), inputs.end());
    EXPECT_EQ(RunTool(one).status, 1);
    EXPECT_EQ(RunTool(four).status, 1);

    TempDir reference;
    const Outcome single =
        RunTool({"-d", "-c", "3:2", "-s", "-o", reference.Path(), dir.File("b/f1.bmp")});
    ASSERT_EQ(single.status, 0);
    const Outcome early =
        RunTool({"-d", "-c", "3:2", "-s", "-o", reference.File("a"), dir.File("a/f2.jpg")});
    ASSERT_EQ(early.status, 0);

    const std::vector<std::string> names = {"f0.jpg", "f1.bmp", "f2.jpg", "f3.bmp",
                                            "f4.jpg", "f5.bmp", "f6.jpg", "f7.bmp"};
    for (const std::string& name : names) {
        const Bytes bytes = test::ReadBytes(dir.File("one/" + name));
        EXPECT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(bytes, test::ReadBytes(dir.File("four/" + name))) << name;
    }
    EXPECT_EQ(test::ReadBytes(dir.File("one/f1.bmp")), test::ReadBytes(reference.File("f1.bmp")));
    EXPECT_EQ(test::ReadBytes(dir.File("four/f2.jpg")),
              test::ReadBytes(reference.File("a/f2.jpg")));
}

TEST(TessaryBatchRun, ProgressLineOnlyOnATerminalAndNotWhenQuiet) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), Frame(8, 8, 1)));
    for (bool quiet : {false, true}) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        std::vector<std::string> args = {"-o", dir.File("out"), dir.File("a.bmp")};
        if (quiet) {
            args.push_back("-q");
        }
        const pid_t pid = Spawn(args, dir.File("stdout"), "", slave);
        ::close(slave);
        std::string seen;
        char buffer[512];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
            seen.append(buffer, static_cast<size_t>(n));  // ends with EIO once the child is gone
        }
        ::close(master);
        EXPECT_EQ(Wait(pid), 0);
        if (quiet) {
            EXPECT_EQ(seen, "");
        } else {
            EXPECT_NE(seen.find("\r"), std::string::npos);
            EXPECT_NE(seen.find("0/1 0% " + dir.File("a.bmp")), std::string::npos) << seen;
            EXPECT_NE(seen.find("1/1 100%"), std::string::npos) << seen;
        }
    }
}

// Starts a run, stops it by `signal` once the first output is in place, and checks
// that the files in hand were finished and nothing partial is left.
void InterruptMidRun(const std::vector<std::string>& args, const std::string& out, int count,
                     int signal, const Bytes& reference) {
    TempDir logs;
    const pid_t pid = Spawn(args, logs.File("out"), logs.File("err"));
    ASSERT_GT(pid, 0);
    // Wait for the first finished output (temporaries are hidden), then interrupt.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto anyFinished = [&] {
        for (int i = 0; i < count; ++i) {
            if (test::FileExists(out + "/f" + std::to_string(i) + ".jpg")) {
                return true;
            }
        }
        return false;
    };
    while (!anyFinished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(::kill(pid, signal), 0);
    EXPECT_EQ(Wait(pid), 130) << ReadText(logs.File("err"));

    // Every output there is whole, and nothing else is: no temporary left behind.
    int written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name[0], '.') << name;
        EXPECT_EQ(test::ReadBytes(entry.path().string()), reference) << name;
        ++written;
    }
    EXPECT_GE(written, 1);
    EXPECT_LT(written, count);  // it stopped starting files
}

TEST(TessaryBatchRun, InterruptFinishesFilesInHandAndLeavesNoPartialFile) {
    TempDir dir;
    MakeDir(dir.File("in"));
    ASSERT_TRUE(test::WriteBytes(dir.File("frame.bmp"), Frame(900, 700, 5)));
    std::vector<std::string> args = {"-d", "-s", "-q", "-j", "2", "-o", dir.File("out")};
    const int count = 40;
    for (int i = 0; i < count; ++i) {
        // Hard links: many inputs, one file's worth of disk.
        const std::string name = dir.File("in/f" + std::to_string(i) + ".jpg");
        ASSERT_EQ(::link(dir.File("frame.bmp").c_str(), name.c_str()), 0);
        args.push_back(name);
    }
    ASSERT_EQ(RunTool({"-d", "-s", "-o", dir.File("ref"), dir.File("in/f0.jpg")}).status, 0);
    const Bytes reference = test::ReadBytes(dir.File("ref/f0.jpg"));

    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove_all(dir.File("out"));
        InterruptMidRun(args, dir.File("out"), count, signal, reference);
    }
}

}  // namespace
}  // namespace tessary

namespace tessary {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// in/ with same-named files in subfolders, a file that is no image, one that
// is not named as an image, and a symbolic link back to in/.
struct ArchiveTree {
    TempDir dir;
    ArchiveTree() {
        for (const char* folder : {"in", "in/a", "in/b", "in/b/c"}) {
            ::mkdir(dir.File(folder).c_str(), 0700);
        }
        int seed = 0;
        for (const char* file : {"in/x.jpg", "in/a/x.jpg", "in/b/x.jpg", "in/b/c/y.BMP"}) {
            test::WriteBytes(dir.File(file), Frame(16, 8, seed++));
        }
        test::WriteBytes(dir.File("in/b/bad.gif"), Bytes(50, 'x'));
        test::WriteBytes(dir.File("in/readme.txt"), Bytes(5, 'x'));
        ::symlink("..", dir.File("in/b/c/up").c_str());
    }
};

TEST(TessaryBatchFolders, MirrorTheTreeReportTheLoopOnceAndFailTheBadFile) {
    ArchiveTree tree;
    const TempDir& dir = tree.dir;
    const Outcome o = RunTool({"-q", "-r", "-d", "-o", dir.File("out"), dir.File("in")});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.errLines(),
              (std::vector<std::string>{
                  Line(dir.File("in/b/c/up"),
                       "a symbolic-link loop: the folder contains itself; not followed"),
                  Line(dir.File("in/b/bad.gif"), "not a JPEG, GIF, BMP, PNG or TIFF image")}));
    for (const char* file : {"out/x.jpg", "out/a/x.jpg", "out/b/x.jpg", "out/b/c/y.BMP"}) {
        EXPECT_TRUE(test::FileExists(dir.File(file))) << file;
    }
    EXPECT_FALSE(test::FileExists(dir.File("out/readme.txt")));
    // Without -r only the folder's own images are taken.
    const Outcome flat = RunTool({"-q", "-o", dir.File("flat"), dir.File("in")});
    EXPECT_EQ(flat.status, 0) << flat.err;
    EXPECT_EQ(std::filesystem::directory_iterator(dir.File("flat"))->path().filename(), "x.jpg");
}

TEST(TessaryBatchFolders, DryRunPrintsThePlanInByteOrderAndWritesNothing) {
    ArchiveTree tree;
    const TempDir& dir = tree.dir;
    const std::string out = dir.File("out");
    const Outcome o = RunTool({"-n", "-r", "-o", out, dir.File("in"), dir.File("gone.jpg")});
    EXPECT_EQ(o.status, 1);  // the missing file, as the run would have it
    EXPECT_EQ(Lines(o.out), (std::vector<std::string>{
                                dir.File("in/a/x.jpg") + " -> " + out + "/a/x.jpg (JPEG)",
                                dir.File("in/b/bad.gif") + " -> " + out + "/b/bad.gif (JPEG)",
                                dir.File("in/b/c/y.BMP") + " -> " + out + "/b/c/y.BMP (BMP)",
                                dir.File("in/b/x.jpg") + " -> " + out + "/b/x.jpg (JPEG)",
                                dir.File("in/x.jpg") + " -> " + out + "/x.jpg (JPEG)",
                            }));
    EXPECT_EQ(o.errLines().size(), 2u) << o.err;  // the loop and the missing file
    EXPECT_FALSE(test::FileExists(out));
    // Problems that would stop files: an input replaced, two inputs to one output.
    const Outcome own = RunTool({"-n", "-o", dir.File("in"), dir.File("in/x.jpg")});
    EXPECT_EQ(own.status, 1);
    EXPECT_NE(own.err.find("would replace an input file"), std::string::npos) << own.err;
    const Outcome twice =
        RunTool({"-n", "-o", out, dir.File("in/a/x.jpg"), dir.File("in/b/x.jpg")});
    EXPECT_EQ(twice.status, 0);  // the later one wins, as in a run: a warning only
    EXPECT_EQ(twice.errLines(),
              std::vector<std::string>{
                  Line(dir.File("in/b/x.jpg"), "warning: writes " + out +
                                                   "/x.jpg as an earlier input does; the later "
                                                   "one's output is the one left")});
    EXPECT_FALSE(test::FileExists(out));
}

TEST(TessaryBatchLists, FilesFromStandardInputWithNulSeparatorsTakesAnyName) {
    TempDir dir;
    const std::vector<std::string> names = {"with space.bmp", "new\nline.bmp", "tab\there.jpg"};
    std::string list;
    for (const std::string& name : names) {
        ASSERT_TRUE(test::WriteBytes(dir.File(name), Frame(8, 6, 1)));
        list += dir.File(name) + '\0';
    }
    const Outcome o = RunTool({"-q", "-0", "--files-from", "-", "-o", dir.File("out")}, list);
    EXPECT_EQ(o.status, 0) << o.err;
    for (const std::string& name : names) {
        EXPECT_TRUE(test::FileExists(dir.File("out/" + name))) << name;
    }
    // Line by line, the name with a line break is two names that don't exist.
    std::string lines;
    for (const std::string& name : names) {
        lines += dir.File(name) + "\n";
    }
    const Outcome byLine = RunTool({"-q", "--files-from", "-", "-o", dir.File("out2")}, lines);
    EXPECT_EQ(byLine.status, 1);
    EXPECT_EQ(byLine.errLines().size(), 2u) << byLine.err;
}

// Reads a JSON Lines report into (input, status) pairs, in file order.
std::vector<std::pair<std::string, std::string>> StatusesIn(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> records;
    const std::regex record("\\{\"input\":\"([^\"]*)\".*\"status\":\"(\\w+)\".*\\}");
    for (const std::string& line : Lines(ReadText(path))) {
        std::smatch match;
        if (std::regex_match(line, match, record)) {
            records.emplace_back(match[1].str(), match[2].str());
        }
    }
    return records;
}

TEST(TessaryBatchResume, UpdateAfterAKilledRunWritesOnlyWhatIsMissing) {
    TempDir dir;
    MakeDir(dir.File("in"));
    ASSERT_TRUE(test::WriteBytes(dir.File("frame.bmp"), Frame(900, 700, 5)));
    const int count = 30;
    std::vector<std::string> args = {"-d", "-j", "1", "-o", dir.File("out"), dir.File("in")};
    for (int i = 0; i < count; ++i) {
        const std::string name = dir.File("in/f" + std::to_string(100 + i) + ".jpg");
        ASSERT_EQ(::link(dir.File("frame.bmp").c_str(), name.c_str()), 0);
    }
    TempDir logs;
    const pid_t pid = Spawn(args, logs.File("out"), logs.File("err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!test::FileExists(dir.File("out/f100.jpg")) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    Wait(pid);
    std::size_t before = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
        before += entry.path().filename().string()[0] != '.' ? 1 : 0;
    }
    ASSERT_LT(before, static_cast<std::size_t>(count));

    std::vector<std::string> resume = {"-u", "--report", dir.File("r.jsonl")};
    resume.insert(resume.end(), args.begin(), args.end());
    const Outcome o = RunTool(resume);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err.rfind(std::to_string(count - before) + " written, 0 failed, " +
                              std::to_string(before) + " skipped in ",
                          0),
              0u)
        << o.err;
    const auto records = StatusesIn(dir.File("r.jsonl"));
    ASSERT_EQ(records.size(), static_cast<std::size_t>(count));
    const Bytes reference = test::ReadBytes(dir.File("out/f100.jpg"));
    for (const auto& [input, status] : records) {
        const std::string output = dir.File("out/" + input.substr(input.rfind('/') + 1));
        EXPECT_EQ(test::ReadBytes(output), reference) << output;  // whole, whichever run
        EXPECT_TRUE(status == "written" || status == "skipped") << status;
    }
    // A third run finds everything up to date.
    const Outcome again = RunTool(resume);
    EXPECT_EQ(again.err.rfind("0 written, 0 failed, " + std::to_string(count) + " skipped", 0), 0u)
        << again.err;
}

TEST(TessaryBatchReport, RefusesAJsonFileOfAnotherKindBeforeTheFirstFile) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("good.bmp"), Frame(20, 10, 1)));
    const std::string foreign = "{\n  \"settings\": true\n}\n";
    ASSERT_TRUE(test::WriteBytes(dir.File("x.json"), Bytes(foreign.begin(), foreign.end())));
    const Outcome o = RunTool(
        {"-q", "--report", dir.File("x.json"), "-o", dir.File("out"), dir.File("good.bmp")});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "tessary-batch: " + dir.File("x.json") +
                         ": cannot open the report: it holds other lines than the records this "
                         "run writes\n");
    EXPECT_EQ(ReadText(dir.File("x.json")), foreign);
    EXPECT_FALSE(test::FileExists(dir.File("out/good.bmp")));
}

TEST(TessaryBatchReport, RecordsMatchTheRunInBothFormats) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("good.bmp"), Frame(20, 10, 1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("notes.jpg"), Bytes(30, 'x')));
    const std::vector<std::string> inputs = {dir.File("good.bmp"), dir.File("notes.jpg"),
                                             dir.File("gone.gif")};
    std::vector<std::string> args = {
        "-q", "-d", "-c", "2:1", "--report", dir.File("r.jsonl"), "-o", dir.File("out")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    EXPECT_EQ(RunTool(args).status, 1);
    // Records come as files finish: those refused before the run first.
    std::vector<std::string> json = Lines(ReadText(dir.File("r.jsonl")));
    ASSERT_EQ(json.size(), 3u);
    std::sort(json.begin(), json.end());  // by input: gone, good, notes
    EXPECT_EQ(
        json[1].rfind("{\"input\":\"" + inputs[0] + "\",\"output\":\"" + dir.File("out/good.bmp") +
                          "\",\"format\":\"BMP\",\"width\":20,\"height\":10,"
                          "\"repairs\":\"deinterlace,clip\",\"status\":\"written\","
                          "\"reason\":\"\",\"ms\":",
                      0),
        0u)
        << json[1];
    EXPECT_NE(json[2].find(
                  "\"status\":\"failed\",\"reason\":\"not a JPEG, GIF, BMP, PNG or TIFF image\""),
              std::string::npos)
        << json[2];
    EXPECT_NE(json[0].find("\"status\":\"failed\",\"reason\":\"No such file or directory\""),
              std::string::npos)
        << json[0];

    args[5] = dir.File("r.csv");
    EXPECT_EQ(RunTool(args).status, 1);
    std::vector<std::string> csv = Lines(ReadText(dir.File("r.csv")));
    ASSERT_EQ(csv.size(), 4u);
    EXPECT_EQ(csv[0], "input,output,format,width,height,repairs,status,reason,ms");
    std::sort(csv.begin() + 1, csv.end());
    EXPECT_EQ(csv[2].rfind(inputs[0] + "," + dir.File("out/good.bmp") +
                               ",BMP,20,10,\"deinterlace,clip\",written,,",
                           0),
              0u)
        << csv[2];
}

TEST(TessaryBatchRun, NamesUpToTheFileSystemsLimitAreWritten) {
    TempDir dir;
    const std::string name = std::string(251, 'n') + ".bmp";  // 255 bytes
    ASSERT_TRUE(test::WriteBytes(dir.File(name), Frame(8, 6, 2)));
    const Outcome o = RunTool({"-q", "-d", "-o", dir.File("out"), dir.File(name)});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(test::FileExists(dir.File("out/" + name)));
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// A JPEG marker segment: the marker, the big-endian length, the payload.
Bytes Segment(uint8_t marker, const std::string& payload) {
    const std::size_t length = payload.size() + 2;
    std::string bytes = {'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                         static_cast<char>(length)};
    bytes += payload;
    return Bytes(bytes.begin(), bytes.end());
}

// The horizontal and vertical sampling factors of the frame's first component
// (0x22 for 4:2:0, 0x11 for 4:4:4); -1 without a baseline frame header.
int LumaSampling(const Bytes& jpeg) {
    const Bytes sof = {0xFF, 0xC0};
    const auto at = std::search(jpeg.begin(), jpeg.end(), sof.begin(), sof.end());
    return jpeg.end() - at > 11 ? at[11] : -1;
}

Bytes SmallJpeg() {
    return test::EncodeJpeg(test::GradientPicture(16, 16), 16, 16);
}

TEST(TessaryBatchFormats, FormatChoosesEveryOutputsContentsAndExtension) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.gif"), test::SimpleGif(4, 2, {0, 1, 2, 3, 3, 2, 1, 0},
                                                                    test::DistinctPalette(4))));
    ASSERT_TRUE(test::WriteBytes(dir.File("b.bmp"), Frame(8, 4, 1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("c"), SmallJpeg()));
    const Bytes bmp = {'B', 'M'};
    const Bytes jpeg = {0xFF, 0xD8};
    const Bytes png = {0x89, 'P', 'N', 'G'};
    const struct {
        std::vector<std::string> args;
        std::vector<std::pair<std::string, Bytes>> outputs;  // name, first bytes
    } cases[] = {
        {{"-f", "bmp"}, {{"a.bmp", bmp}, {"b.bmp", bmp}, {"c.bmp", bmp}}},
        {{"--format=jpeg"}, {{"a.jpg", jpeg}, {"b.jpg", jpeg}, {"c.jpg", jpeg}}},
        {{"-f", "png"}, {{"a.png", png}, {"b.png", png}, {"c.png", png}}},
        {{}, {{"a.gif", jpeg}, {"b.bmp", bmp}, {"c", jpeg}}},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string out = dir.File("out" + std::to_string(run++));
        std::vector<std::string> args = c.args;
        args.insert(args.end(),
                    {"-q", "-o", out, dir.File("a.gif"), dir.File("b.bmp"), dir.File("c")});
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.status, 0) << o.err;
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(out)) {
            ++entries;
        }
        EXPECT_EQ(entries, c.outputs.size()) << out;
        for (const auto& [name, magic] : c.outputs) {
            const Bytes written = test::ReadBytes(out + "/" + name);
            ASSERT_GE(written.size(), magic.size()) << name;
            EXPECT_TRUE(std::equal(magic.begin(), magic.end(), written.begin())) << name;
        }
    }
    // A dry run names the output as it will be written.
    const Outcome dry = RunTool({"-n", "-f", "bmp", "-o", dir.File("o"), dir.File("a.gif")});
    EXPECT_NE(dry.out.find(dir.File("a.gif") + " -> " + dir.File("o/a.bmp") + " (BMP)"),
              std::string::npos)
        << dry.out;
}

TEST(TessaryBatchFormats, QualityAndSubsamplingReachTheJpegAndBadValuesAreUsageErrors) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.bmp"), Frame(16, 16, 2)));
    const struct {
        std::vector<std::string> args;
        int status;
        uint16_t dcQuant;  // first entry of the first quantisation table
        int sampling;
    } cases[] = {
        {{"-f", "jpeg"}, 0, 1, 0x22},
        {{"-f", "jpeg", "--quality", "50", "--subsampling", "444"}, 0, 16, 0x11},
        {{"-f", "jpeg", "--quality=75", "--subsampling=420"}, 0, 8, 0x22},
        {{"--quality", "0"}, 2, 0, 0},
        {{"--quality", "101"}, 2, 0, 0},
        {{"--quality", "9.5"}, 2, 0, 0},
        {{"--subsampling", "422"}, 2, 0, 0},
        {{"-f", "gif"}, 2, 0, 0},
        {{"-f", "JPEG"}, 2, 0, 0},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string out = dir.File("out" + std::to_string(run++));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-q", "-o", out, dir.File("a.bmp")});
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.status, c.status) << out << " " << o.err;
        if (c.status != 0) {
            EXPECT_FALSE(test::FileExists(out));
            continue;
        }
        const Bytes written = test::ReadBytes(out + "/a.jpg");
        const test::JpegLayout layout = test::InspectJpeg(written);
        ASSERT_FALSE(layout.quantTables.empty()) << out;
        EXPECT_EQ(layout.quantTables[0][0], c.dcQuant) << out;
        EXPECT_EQ(LumaSampling(written), c.sampling) << out;
    }
}

TEST(TessaryBatchFormats, AJpegKeepsItsExifAndCommentUnlessStripped) {
    TempDir dir;
    const Bytes exif = Segment(0xE1, std::string("Exif\0\0MM\0*\0\0\0\x08\0\0\0\0\0\0", 20));
    const Bytes comment = Segment(0xFE, "grabbed from tape 7");
    Bytes file = SmallJpeg();
    ASSERT_GT(file.size(), 2u);
    file.insert(file.begin() + 2, comment.begin(), comment.end());
    file.insert(file.begin() + 2, exif.begin(), exif.end());
    ASSERT_TRUE(test::WriteBytes(dir.File("a.jpg"), file));
    const struct {
        std::vector<std::string> args;
        bool kept;
    } cases[] = {
        {{}, true},
        {{"-d", "--quality", "80"}, true},
        {{"--strip"}, false},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string out = dir.File("out" + std::to_string(run++));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-q", "-o", out, dir.File("a.jpg")});
        ASSERT_EQ(RunTool(args).status, 0) << out;
        const Bytes written = test::ReadBytes(out + "/a.jpg");
        EXPECT_EQ(Contains(written, exif), c.kept) << out;
        EXPECT_EQ(Contains(written, Bytes(comment.begin() + 4, comment.end())), c.kept) << out;
    }
}

// The dialog's way through the engine (its plan, its settings, the workers)
// must give the very bytes the tool gives for the same choices.
TEST(TessaryBatchEngine, TheDialogsRunWritesTheToolsBytes) {
    TempDir dir;
    Bytes jpeg = SmallJpeg();
    const Bytes exif = Segment(0xE1, std::string("Exif\0\0MM\0*\0\0\0\x08\0\0\0\0\0\0", 20));
    jpeg.insert(jpeg.begin() + 2, exif.begin(), exif.end());
    ASSERT_TRUE(test::WriteBytes(dir.File("a.jpg"), jpeg));
    ASSERT_TRUE(test::WriteBytes(dir.File("b.bmp"), Frame(64, 48, 3)));
    ASSERT_TRUE(test::WriteBytes(dir.File("c.gif"), test::SimpleGif(4, 2, {0, 1, 2, 3, 3, 2, 1, 0},
                                                                    test::DistinctPalette(4))));
    const std::vector<std::string> inputs = {dir.File("a.jpg"), dir.File("b.bmp"),
                                             dir.File("c.gif")};
    const auto settings = [](auto change) {
        BatchSettings s;
        change(s);
        return s;
    };
    const struct {
        std::vector<std::string> args;
        BatchSettings settings;
    } cases[] = {
        {{}, {}},
        {{"-d", "-s", "-c", "3:2"}, BatchSettings{1, 1, 1, 3, 2}},
        {{"-d=top", "-f", "png"}, settings([](BatchSettings& s) {
             s.m_bInterlace = 1, s.method = DeinterlaceMethod::Top, s.format = OutputFormat::Png;
         })},
        {{"-d=bottom", "-f", "bmp", "-c", "auto"}, settings([](BatchSettings& s) {
             s.m_bInterlace = 1, s.method = DeinterlaceMethod::Bottom, s.autoClip = true;
             s.format = OutputFormat::Bmp;
         })},
        {{"-d=adaptive", "--only-combed", "--quality", "80", "--subsampling", "444", "--strip"},
         settings([](BatchSettings& s) {
             s.m_bInterlace = 1, s.method = DeinterlaceMethod::Adaptive, s.onlyCombed = true;
             s.jpegQuality = 80, s.jpegSubsampling = JpegSubsampling::Full;
             s.keepMetadata = false;
         })},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string tool = dir.File("tool" + std::to_string(run));
        const std::string dialog = dir.File("dialog" + std::to_string(run++));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-q", "-o", tool});
        args.insert(args.end(), inputs.begin(), inputs.end());
        ASSERT_EQ(RunTool(args).status, 0) << tool;

        const SequentialPlan plan = PlanSequentialRun(inputs, dialog + "/", c.settings);
        SilentListener quiet;
        const RunOutcome outcome = RunOnWorkers(plan, 2, std::atomic<bool>{false}, quiet);
        ASSERT_EQ(outcome.written, inputs.size()) << dialog;
        for (const auto& entry : std::filesystem::directory_iterator(tool)) {
            const std::string name = entry.path().filename();
            EXPECT_EQ(test::ReadBytes(dialog + "/" + name), test::ReadBytes(entry.path()))
                << tool << " " << name;
        }
    }
}

TEST(TessaryBatchFormats, WhatTheReaderWorkedAroundIsAWarningLine) {
    TempDir dir;
    test::GifFile animated =
        test::OneImageGif(4, 2, {0, 1, 2, 3, 3, 2, 1, 0}, test::DistinctPalette(4));
    animated.images.push_back(animated.images[0]);
    const struct {
        const char* name;
        Bytes bytes;
        const char* warning;  // the start of the line's text
    } cases[] = {
        {"animated.gif", test::BuildGif(animated),
         "warning: animated GIF: only the first frame was used"},
        {"short.jpg", test::JpegHeaderOnly(64, 64), "warning: damaged data: "},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::WriteBytes(dir.File(c.name), c.bytes));
        const Outcome o = RunTool({"-q", "-o", dir.File("out"), dir.File(c.name)});
        EXPECT_EQ(o.status, 0) << o.err;
        const auto lines = o.errLines();
        ASSERT_EQ(lines.size(), 1u) << o.err;
        EXPECT_EQ(lines[0].rfind(Line(dir.File(c.name), c.warning), 0), 0u) << lines[0];
        EXPECT_TRUE(test::FileExists(dir.File("out/") + c.name));
    }
}

TEST(TessaryBatchUsage, TheReadmeShowsTheHelpText) {
    const std::string readme = ReadText(TESSARY_SOURCE_DIR "/README.md");
    const std::string help = RunTool({"--help"}).out;
    // The block is the help text indented by four spaces, blank lines left empty.
    std::string block;
    for (const std::string& line : Lines(help)) {
        block += line.empty() ? "\n" : "    " + line + "\n";
    }
    EXPECT_NE(readme.find("\n\n" + block + "\n"), std::string::npos)
        << "README.md's tessary-batch usage block should read:\n"
        << block;
}

TEST(TessaryBatchUsage, TheManualPageDescribesEveryOptionOfTheHelp) {
    const std::string page = ReadText(TESSARY_SOURCE_DIR "/docs/man/tessary-batch.1");
    const std::regex option("(^|[ ,])(--?[a-z0-9-]+)");
    const std::string help = RunTool({"--help"}).out;
    int found = 0;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it) {
        // roff writes a hyphen in an option as "\-".
        const std::string name = std::regex_replace((*it)[2].str(), std::regex("-"), "\\-");
        EXPECT_NE(page.find(name), std::string::npos) << (*it)[2].str();
        ++found;
    }
    EXPECT_GT(found, 25);
}

// Frames for the smart repairs, 40 x 24 with values from `grey` (each pixel grey).
Bytes GreyBmp(const std::function<uint8_t(int, int)>& grey) {
    return test::BmpBuilder(40, 24, 24)
        .Pixels24([&](int32_t x, int32_t y) { return uint32_t{grey(x, y)} * 0x010101u; })
        .Build();
}
// A bright block that moved 8 pixels between the two field times.
uint8_t Combed(int x, int y) {
    const int left = y % 2 == 0 ? 8 : 16;
    return y >= 4 && y < 20 && x >= left && x < left + 16 ? 220 : 100;
}
uint8_t Flat(int x, int y) {
    return static_cast<uint8_t>(40 + 3 * x + 2 * y);
}
// Black bands of 4 rows at the top and 3 at the bottom around a textured picture.
uint8_t Banded(int x, int y) {
    return y < 4 || y >= 21 ? 0 : static_cast<uint8_t>(90 + (x * 7 + y * 3) % 60);
}

// Row y (from the top) of a 24-bit BMP file, as stored.
Bytes BmpRow(const Bytes& file, int32_t y) {
    const auto read32 = [&](size_t at) {
        return int32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
    };
    const int32_t width = read32(18);
    const int32_t height = read32(22);
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    const size_t row = height > 0 ? size_t(height - 1 - y) : size_t(y);
    const auto begin = file.begin() + read32(10) + std::ptrdiff_t(row * stride);
    return Bytes(begin, begin + width * 3);
}

std::string RepairsOf(const std::string& record) {
    std::smatch match;
    return std::regex_search(record, match, std::regex("\"repairs\":\"([^\"]*)\"")) ? match[1].str()
                                                                                    : "?";
}

TEST(TessaryBatchSmart, MethodsKeepTheirRowsAndNameThemselves) {
    struct Case {
        std::vector<std::string> args;
        uint8_t (*grey)(int, int);
        std::string repairs;
        std::vector<int32_t> keptRows;  // rows the output holds exactly as read
        std::vector<int32_t> blackRows;
    };
    std::vector<int32_t> even, odd, all;
    for (int32_t y = 0; y < 24; ++y) {
        (y % 2 == 0 ? even : odd).push_back(y);
        all.push_back(y);
    }
    const std::vector<Case> cases = {
        {{"-d=top"}, Combed, "deinterlace=top", even, {}},
        {{"--deinterlace=bottom"}, Combed, "deinterlace=bottom", odd, {}},
        {{"--deinterlace=adaptive", "--field", "bottom"}, Combed, "deinterlace=adaptive", odd, {}},
        {{"-d", "--only-combed"}, Flat, "deinterlace skipped (not combed)", all, {}},
        {{"--deinterlace=adaptive", "--only-combed"}, Combed, "deinterlace=adaptive", {}, {}},
        {{"-c", "auto"}, Banded, "clip", {4, 10, 20}, {0, 3, 21, 23}},
        {{"--clip=auto", "-d", "--only-combed"},
         Banded,
         "deinterlace skipped (not combed),clip",
         {4, 20},
         {3, 21}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const Bytes input = GreyBmp(c.grey);
        ASSERT_TRUE(test::WriteBytes(dir.File("f.bmp"), input));
        std::vector<std::string> args = {"-q", "--report",      dir.File("r.jsonl"),
                                         "-o", dir.File("out"), dir.File("f.bmp")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = RunTool(args);
        ASSERT_EQ(o.status, 0) << c.repairs << o.err;
        EXPECT_EQ(RepairsOf(ReadText(dir.File("r.jsonl"))), c.repairs);
        const Bytes output = test::ReadBytes(dir.File("out/f.bmp"));
        for (int32_t y : c.keptRows) {
            EXPECT_EQ(BmpRow(output, y), BmpRow(input, y)) << c.repairs << " row " << y;
        }
        for (int32_t y : c.blackRows) {
            EXPECT_EQ(BmpRow(output, y), Bytes(40 * 3, 0)) << c.repairs << " row " << y;
        }
    }
    // The combed block is rebuilt, not left with its teeth.
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("f.bmp"), GreyBmp(Combed)));
    ASSERT_EQ(RunTool({"-q", "--deinterlace=top", "-o", dir.File("out"), dir.File("f.bmp")}).status,
              0);
    EXPECT_NE(BmpRow(test::ReadBytes(dir.File("out/f.bmp")), 9), BmpRow(GreyBmp(Combed), 9));
}

TEST(TessaryBatchSmart, SmartOptionsThatDoNotGoTogetherAreUsageErrors) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("f.bmp"), GreyBmp(Flat)));
    const std::vector<std::vector<std::string>> cases = {
        {"--deinterlace=sideways"},
        {"-d=sideways", "-s"},
        {"--deinterlace=top", "--field", "bottom"},
        {"-d", "--field", "top"},
        {"--field", "top"},
        {"--deinterlace=adaptive", "--field", "middle"},
        {"--only-combed"},
        {"-c", "automatic"},
        {"-c", "auto:2"},
    };
    for (std::vector<std::string> args : cases) {
        const std::string shown = args[0] + " " + args.back();
        args.insert(args.end(), {"-o", dir.File("out"), dir.File("f.bmp")});
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.status, 2) << shown;
        EXPECT_EQ(o.errLines().size(), 2u) << shown << o.err;
    }
    EXPECT_FALSE(test::FileExists(dir.File("out")));
}

TEST(TessaryBatchSmart, DetectPrintsOneLinePerInputAndWritesNothing) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("combed.bmp"), GreyBmp(Combed)));
    ASSERT_TRUE(test::WriteBytes(dir.File("flat.bmp"), GreyBmp(Flat)));
    ASSERT_TRUE(test::WriteBytes(dir.File("bands.bmp"), GreyBmp(Banded)));
    const Outcome o = RunTool({"--detect", "--report", dir.File("r.csv"), dir.File("combed.bmp"),
                               dir.File("flat.bmp"), dir.File("gone.bmp"), dir.File("bands.bmp")});
    EXPECT_EQ(o.status, 1);  // one input could not be looked at
    EXPECT_EQ(o.errLines(),
              std::vector<std::string>{Line(dir.File("gone.bmp"), "No such file or directory")});
    const std::vector<std::string> lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 4u) << o.out;
    EXPECT_EQ(lines[0], "file\tcombed\tscore\tfield\ttop\tbottom");
    const std::regex row(
        "([^\t]+)\t(yes|no)\t([0-9]+\\.[0-9]{2})\t(top|bottom)\t([0-9]+)\t([0-9]+)");
    const std::vector<std::vector<std::string>> expected = {
        {dir.File("combed.bmp"), "yes", "0", "0"},
        {dir.File("flat.bmp"), "no", "0", "0"},
        {dir.File("bands.bmp"), "no", "4", "3"},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i + 1], m, row)) << lines[i + 1];
        EXPECT_EQ((std::vector<std::string>{m[1], m[2], m[5], m[6]}), expected[i]) << lines[i + 1];
    }
    const std::vector<std::string> csv = Lines(ReadText(dir.File("r.csv")));
    ASSERT_EQ(csv.size(), 5u);
    EXPECT_EQ(csv[0],
              "input,output,format,width,height,repairs,status,reason,ms,combed,score,field,top,"
              "bottom");
    EXPECT_NE(csv[4].find(",skipped,detection only: nothing written,"), std::string::npos);
    EXPECT_TRUE(std::regex_search(csv[4], std::regex(",no,[0-9.]+,(top|bottom),4,3$"))) << csv[4];
    EXPECT_EQ(csv[3].substr(csv[3].size() - 5), ",,,,,") << csv[3];
    EXPECT_FALSE(test::FileExists(dir.File("out")));
}

}  // namespace
}  // namespace tessary
