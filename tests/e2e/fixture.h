// The fixture that most end-to-end tests share: a temporary directory with
// a tree to walk and, outside it, a script and a header file to copy.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

class E2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(root);
    WriteFile(header, headerBytes);
    WriteFile(script, scriptBytes, 0755);
  }

  // "-s root filter size header script pattern"
  std::vector<std::string> SplitWords(const std::string& size, const std::string& filter = "*",
                                      const std::string& pattern = ".%03u",
                                      const std::string& rootWord = "") const {
    return {"-s", rootWord.empty() ? root : rootWord, filter, size, header, script, pattern};
  }

  // "-j root filter pattern"
  std::vector<std::string> JoinWords(const std::string& filter = "*",
                                     const std::string& pattern = ".%03u",
                                     const std::string& rootWord = "") const {
    return {"-j", rootWord.empty() ? root : rootWord, filter, pattern};
  }

  // The set of `name` made with this fixture's script and header.
  Tree SetOf(const std::string& name, const Bytes& content, unsigned size,
             const std::string& pattern = ".%03u") const {
    return SplitSetOf(name, content, size, pattern, scriptBytes, headerBytes);
  }

  TempDir tmp;
  const std::string root = tmp / "tree";
  const std::string header = tmp / "aux/h.mime";
  const std::string script = tmp / "aux/s.cgi";
  const Bytes headerBytes = "Content-Type: text/x-test\r\n\r\n";
  const Bytes scriptBytes = std::string("#!/bin/sh\r\necho 'x'\n\0\xff\x7f", 23);
};

// Checks that a run ended normally, printed nothing on standard error, and
// printed exactly `out`.
#define EXPECT_RUN(result, expectedOut)                                 \
  do {                                                                  \
    const ::e2e::RunResult& r_ = (result);                              \
    EXPECT_FALSE(r_.timedOut) << "the run hung";                        \
    EXPECT_EQ(0, r_.status);                                            \
    EXPECT_EQ("", r_.err);                                              \
    EXPECT_TRUE(::e2e::OutputsMatch(std::string(expectedOut), r_.out)); \
  } while (0)

// Merges trees: later entries win.
inline Tree Merge(std::initializer_list<Tree> trees) {
  Tree all;
  for (const Tree& t : trees)
    for (const auto& [k, v] : t) all[k] = v;
  return all;
}

// Prefixes every key of `tree` with `dir` + "/".
inline Tree Under(const std::string& dir, const Tree& tree) {
  Tree out;
  for (const auto& [k, v] : tree) out[dir + "/" + k] = v;
  return out;
}

}  // namespace e2e
