#pragma once
// Scratch files for fuzz targets whose code under test only reads files: one directory per fuzzing
// process in /tmp (or $TMPDIR), made on first use and removed when the process ends, so that the per-input work
// is one write of the input and no directory churn.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <dirent.h>
#include <unistd.h>

namespace fuzz {

namespace detail {
inline std::string& ScratchPath() {
  static std::string path;
  return path;
}

inline void RemoveScratch() {
  const std::string& dir = ScratchPath();
  if (dir.empty()) return;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}
}  // namespace detail

// The process's scratch directory, created on the first call. Aborts when it cannot be made: a
// target that cannot write its input would otherwise fuzz nothing and still look green.
inline const std::string& ScratchDir() {
  std::string& dir = detail::ScratchPath();
  if (dir.empty()) {
    // $TMPDIR when set: scripts/fuzz points it at a memory file system where there is one, since
    // the profile writer syncs every file it writes, which costs milliseconds on a disk.
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/suite-fuzz-XXXXXX";
    if (!mkdtemp(&templ[0])) {
      perror("fuzz scratch directory");
      abort();
    }
    dir = templ;
    atexit(detail::RemoveScratch);
  }
  return dir;
}

// Writes the bytes to ScratchDir()/name, replacing what was there, and returns the full path.
inline std::string WriteScratch(const char* name, const uint8_t* data, size_t size) {
  std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    perror(path.c_str());
    abort();
  }
  return path;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fuzz
