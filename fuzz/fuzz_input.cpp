#include "fuzz/fuzz_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "formats/dib.h"

namespace tessary::fuzz {

void CheckWholeDib(const MemoryBlock& dib) {
    if (dib.Size() < kInfoHeaderSize) {
        __builtin_trap();
    }
    BitmapInfoHeader header;
    GetDibInfo(dib, &header);
    const uint64_t end = DibPixelOffset(header) + DibPixelBytes(header);
    if (end > dib.Size()) {
        __builtin_trap();
    }
    volatile uint8_t last = dib.Data()[dib.Size() - 1];
    (void)last;
}

InputFile::InputFile() {
    m_fd = memfd_create("tessary-fuzz-input", MFD_CLOEXEC);
    if (m_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    m_strPath = "/proc/self/fd/" + std::to_string(m_fd);
}

InputFile::~InputFile() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

const char* InputFile::Hold(const uint8_t* data, size_t size) {
    if (ftruncate(m_fd, 0) != 0) {
        std::abort();
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) {
            std::abort();
        }
        done += static_cast<size_t>(n);
    }
    return m_strPath.c_str();
}

namespace {

std::string MakeOutputFolder() {
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/tessary-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

std::string g_outputFolder;

void RemoveOutputFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_outputFolder, ignored);
}

}  // namespace

const std::string& OutputFolder() {
    if (g_outputFolder.empty()) {
        g_outputFolder = MakeOutputFolder();
        std::atexit(RemoveOutputFolder);
    }
    return g_outputFolder;
}

void EmptyFolder(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

}  // namespace tessary::fuzz
