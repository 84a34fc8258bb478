#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessary::test {

TempDir::TempDir() {
    const char* base = std::getenv("TESSARY_TEST_TMP");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tessary-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_strPath = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!m_strPath.empty()) {
        // Tests take write permission away on purpose; give it back so the folder can go.
        std::filesystem::permissions(m_strPath, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(m_strPath, ignored)) {
            if (entry.is_directory(ignored)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(m_strPath, ignored);
    }
}

std::string TempDir::File(const std::string& name) const {
    return m_strPath + "/" + name;
}

std::vector<std::string> TempDir::List() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_strPath, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

}  // namespace tessary::test
