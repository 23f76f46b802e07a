// A temporary directory for the platform layer's tests, and byte-level
// helpers that reach the files without going through the layer.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/text.h"

// Decodes bytes with the layer's own lossless decoding.
inline std::wstring Wide(const std::string& bytes) {
  std::wstring out(bytes.size() + 1, L'\0');
  EXPECT_TRUE(PlDecode(bytes.data(), bytes.size(), &out[0], out.size()));
  out.resize(wcslen(out.c_str()));
  return out;
}

class PlatformDir : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    char name[] = "/tmp/parcelot-platform-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }

  void TearDown() override {
    if (!dir_.empty()) {
      nftw(
          dir_.c_str(),
          [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
          FTW_DEPTH | FTW_PHYS);
    }
    setlocale(LC_ALL, "C");
  }

  // The bytes of `name` inside the directory, and the same path as wide text.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::wstring WPath(const std::string& name) const { return Wide(Path(name)); }

  void Put(const std::string& name, const std::string& content, mode_t mode = 0644) const {
    std::string path = Path(name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ASSERT_EQ(fchmod(fd, mode), 0);
    close(fd);
  }

  // The content of the file at `name`, or "<none>" when it cannot be read.
  std::string Get(const std::string& name) const {
    int fd = open(Path(name).c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return "<none>";
    std::string content;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0)
      content.append(buffer, static_cast<size_t>(n));
    close(fd);
    return content;
  }

  bool Exists(const std::string& name) const {
    struct stat st;
    return lstat(Path(name).c_str(), &st) == 0;
  }

  mode_t ModeOf(const std::string& name) const {
    struct stat st;
    EXPECT_EQ(lstat(Path(name).c_str(), &st), 0) << name;
    return st.st_mode;
  }

  std::string dir_;
};

// Some bytes that show where they came from: no two positions alike for a
// long stretch, so a shifted or repeated block is told apart.
inline std::string Pattern(size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}
