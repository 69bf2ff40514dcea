#pragma once
// A deterministic synthetic Home for benchmarks and tests: N projects x M
// pieces with realistic post.md sizes and front matter, and some cards/,
// passes/ and research/ beside them. The same seed always gives the same
// bytes.

#include <QString>
#include <cstdint>

namespace testsupport {

struct SyntheticHomeOptions {
    int projects = 4;
    int piecesPerProject = 25;
    int minWords = 300;
    int maxWords = 3000;
    int archivedProjects = 1;
    std::uint32_t seed = 20261210;
};

struct SyntheticHomeSummary {
    int pieces = 0;
    int cards = 0;
    qint64 bytes = 0;
};

// Writes the Home into root (created when missing).
SyntheticHomeSummary generateSyntheticHome(const QString &root, const SyntheticHomeOptions &options = {});

// Deterministic prose of about the given number of words, in paragraphs, with
// some punctuation, em dashes and non-ASCII words.
QString syntheticProse(int words, std::uint32_t seed);

} // namespace testsupport
