#pragma once
// A scratch file written anew for every input. Truncating a file that holds data makes ext4 write the
// old blocks out first (milliseconds a run, most of a target's time); removing the file first does not.
#include "fuzz/fuzz_scratch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace fuzz {

inline std::string WriteFreshScratch(const char* name, const uint8_t* data, size_t size) {
  ::unlink((ScratchDir() + "/" + name).c_str());
  return WriteScratch(name, data, size);
}

}  // namespace fuzz
