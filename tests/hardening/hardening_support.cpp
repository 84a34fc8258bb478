#include "tests/hardening/hardening_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <grp.h>

#include "tests/support/bmp_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"

namespace tessary::test {

namespace {

constexpr uid_t kNobody = 65534;

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : -1;
}

pid_t Spawn(const std::vector<std::string>& args, int errFd) {
    std::vector<std::string> argv = {TESSARY_BATCH_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errFd >= 0 ? errFd : null, 2);
        execv(raw[0], raw.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

uint64_t PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6));
        }
    }
    return 0;
}

int RunInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int waitStatus = 0;
    if (pid < 0 || waitpid(pid, &waitStatus, 0) != pid) {
        return -1;
    }
    return StatusOf(waitStatus);
}

uint64_t PeakOfChildKib(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body() ? 0 : 1);
    }
    int waitStatus = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &waitStatus, 0, &usage) != pid || StatusOf(waitStatus) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(usage.ru_maxrss);
}

bool DropToNobody() {
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
           getuid() == kNobody;
}

bool CanDropToNobody() {
    return geteuid() == 0;
}

ProcessResult RunBatchTool(const std::vector<std::string>& args) {
    char errName[] = "/tmp/tessary-hardening-err-XXXXXX";
    const int errFd = mkstemp(errName);
    unlink(errName);
    ProcessResult result;
    const pid_t pid = Spawn(args, errFd);
    int waitStatus = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &waitStatus, 0, &usage) == pid) {
        result.status = StatusOf(waitStatus);
        result.peakRssKib = static_cast<uint64_t>(usage.ru_maxrss);
    }
    if (errFd >= 0) {
        lseek(errFd, 0, SEEK_SET);
        char buffer[4096];
        for (ssize_t n; (n = read(errFd, buffer, sizeof buffer)) > 0;) {
            result.err.append(buffer, static_cast<size_t>(n));
        }
        close(errFd);
    }
    return result;
}

pid_t StartBatchTool(const std::vector<std::string>& args) {
    return Spawn(args, -1);
}

Sample SmallBmp24() {
    return {
        BmpBuilder(7, 5, 24)
            .Pixels24([](int32_t x, int32_t y) { return uint32_t(x * 30 + y * 0x1100 + 0x400000); })
            .Build(),
        7, 5};
}

Sample SmallBmp8() {
    return {BmpBuilder(5, 3, 8)
                .GreyPalette(256)
                .Pixels8([](int32_t x, int32_t y) { return uint8_t(x * 40 + y); })
                .Build(),
            5, 3};
}

Sample SmallGif() {
    std::vector<uint8_t> pixels(6 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = uint8_t(i % 4);
    }
    return {SimpleGif(6, 4, pixels, DistinctPalette(4)), 6, 4};
}

Sample SmallJpeg(uint32_t width, uint32_t height) {
    return {EncodeJpeg(GradientPicture(width, height), width, height), int32_t(width),
            int32_t(height)};
}

std::vector<std::string> HiddenEntries(const std::string& folder) {
    std::vector<std::string> hidden;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name[0] == '.') {
            hidden.push_back(name);
        }
    }
    return hidden;
}

}  // namespace tessary::test
