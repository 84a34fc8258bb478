#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessary::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder for one test, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const;
    // Names of the entries in the folder (hidden ones included), sorted.
    std::vector<std::string> List() const;

  private:
    std::string m_strPath;
};

bool WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace tessary::test
