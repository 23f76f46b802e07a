// What "nothing lost" means for a tree, as checks on a listing (see
// harness.h): a file's bytes stand whole as the file itself or as a complete
// split set, and what a failure leaves has the form that it is allowed to.
#pragma once

#include <string>

#include "harness.h"

namespace e2e {

// The bytes that the chunks of the set of `name` hold, from chunk 0 up to
// the first that is missing; `count` gets the number of chunks.
inline Bytes ChunkBytes(const Tree& tree, const std::string& name, const std::string& pattern,
                        unsigned* count = nullptr) {
  Bytes bytes;
  unsigned index = 0;
  for (;; ++index) {
    auto chunk = tree.find(name + ChunkSuffix(pattern, index));
    if (chunk == tree.end()) break;
    bytes += chunk->second;
  }
  if (count) *count = index;
  return bytes;
}

// True when the set of `name` is complete: both companions, and chunks that
// hold exactly `content` in pieces of `size` (the last one shorter).
inline bool HoldsCompleteSet(const Tree& tree, const std::string& name, const Bytes& content,
                             unsigned size, const std::string& pattern = ".%03u") {
  if (!tree.count(name + ".cgi") || !tree.count(name + ".mime")) return false;
  unsigned count = 0;
  if (ChunkBytes(tree, name, pattern, &count) != content) return false;
  for (unsigned i = 0; i + 1 < count; ++i) {
    if (tree.at(name + ChunkSuffix(pattern, i)).size() != size) return false;
  }
  return true;
}

// Checks the invariant for one file: its bytes stand whole at its name or as
// a complete set, and whatever stands at its name holds exactly them.
inline ::testing::AssertionResult NothingLost(const Tree& tree, const std::string& name,
                                              const Bytes& content, unsigned size,
                                              const std::string& pattern = ".%03u") {
  auto at = tree.find(name);
  if (at != tree.end() && at->second != content) {
    return ::testing::AssertionFailure() << "a partial or other file stands at " << name;
  }
  if (at == tree.end() && !HoldsCompleteSet(tree, name, content, size, pattern)) {
    return ::testing::AssertionFailure() << "the bytes of " << name << " are lost";
  }
  return ::testing::AssertionSuccess();
}

// What a failed split of `name` may leave beside its source: no companion;
// the script companion alone; or both companions and chunks 0 to j-1 that
// hold the start of `content` (the complete set of a shorter file), and no
// other member. `companions` is how many companions must stand (0, 1, 2),
// or -1 when any of those forms will do.
inline ::testing::AssertionResult LeftByAFailedSplit(const Tree& tree, const std::string& name,
                                                     const Bytes& content, unsigned size,
                                                     const Bytes& script, const Bytes& header,
                                                     int companions = -1) {
  Tree rest = tree;
  if (!rest.count(name) || rest.at(name) != content) {
    return ::testing::AssertionFailure() << "the source is not whole";
  }
  rest.erase(name);
  int found = 0;
  if (rest.count(name + ".cgi")) {
    if (rest.at(name + ".cgi") != script)
      return ::testing::AssertionFailure() << "a partial script companion";
    rest.erase(name + ".cgi");
    ++found;
    if (rest.count(name + ".mime")) {
      if (rest.at(name + ".mime") != header)
        return ::testing::AssertionFailure() << "a partial header companion";
      rest.erase(name + ".mime");
      ++found;
    }
  }
  if (companions >= 0 && found != companions) {
    return ::testing::AssertionFailure() << found << " companions stand, not " << companions;
  }
  unsigned count = 0;
  const Bytes chunks = ChunkBytes(rest, name, ".%03u", &count);
  if (count > 0 && found < 2) return ::testing::AssertionFailure() << "chunks without companions";
  if (content.compare(0, chunks.size(), chunks) != 0)
    return ::testing::AssertionFailure() << "the chunks do not hold the start of the source";
  for (unsigned i = 0; i < count; ++i) {
    const bool lastOfAll = i + 1 == count && chunks.size() == content.size();
    if (rest.at(name + ChunkSuffix(".%03u", i)).size() != size && !lastOfAll)
      return ::testing::AssertionFailure() << "chunk " << i << " is not full";
    rest.erase(name + ChunkSuffix(".%03u", i));
  }
  if (!rest.empty()) return ::testing::AssertionFailure() << "more stands:\n" << Describe(rest);
  return ::testing::AssertionSuccess();
}

}  // namespace e2e
