#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/memory_block.h"

namespace tessary::fuzz {

// The readers take paths, so each input goes into one anonymous in-memory file
// (a regular file, as the readers require) that is rewritten for every input.
class InputFile {
  public:
    InputFile();
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Replaces the contents and gives the path that opens them; aborts when the
    // file can't be written, since every later result would be meaningless.
    const char* Hold(const uint8_t* data, size_t size);

  private:
    int m_fd = -1;
    std::string m_strPath;
};

// Traps unless the DIB holds its whole pixel array (ASan checks the access to
// its last byte), and a picture of at least one pixel.
void CheckWholeDib(const MemoryBlock& dib);

// A folder for outputs, made once per process and removed with its contents at exit.
const std::string& OutputFolder();

// Removes every entry of the folder (outputs and any temporary files left).
void EmptyFolder(const std::string& folder);

}  // namespace tessary::fuzz
