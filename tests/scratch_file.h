// A file with given bytes in /tmp for one test, removed when it goes out of scope.
#ifndef SPIQLM_TESTS_SCRATCH_FILE_H
#define SPIQLM_TESTS_SCRATCH_FILE_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

class ScratchFile {
 public:
  ScratchFile(const void* bytes, size_t size) {
    char pattern[] = "/tmp/spiqlm-test-XXXXXX";
    int fd = mkstemp(pattern);
    EXPECT_GE(fd, 0) << "cannot make a scratch file";
    if (fd >= 0) close(fd);
    path_ = pattern;
    Write(bytes, size);
  }
  explicit ScratchFile(const std::vector<unsigned char>& bytes)
      : ScratchFile(bytes.data(), bytes.size()) {}
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { remove(path_.c_str()); }

  // Replaces the file's bytes.
  void Write(const void* bytes, size_t size) {
    FILE* file = fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (size != 0) {
      EXPECT_EQ(fwrite(bytes, 1, size, file), size);
    }
    fclose(file);
  }

  const char* path() const { return path_.c_str(); }
  // The exports take their file name as char*.
  char* name() { return &path_[0]; }

 private:
  std::string path_;
};

#endif  // SPIQLM_TESTS_SCRATCH_FILE_H
