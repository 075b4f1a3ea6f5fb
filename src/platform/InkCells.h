#pragma once
// Character rectangles measured on the ink of a text line. A line recogniser reads the
// characters of a line in order but places them only roughly (its boxes may be off by half a
// character or span several); the ink of the line, cut into runs of columns that hold ink,
// tells where each character really stands. The characters are matched to the runs in order,
// each taking the consecutive runs whose width best fits the character (a Chinese character
// may be made of several runs, as 北 or 川 are; touching characters share a run).

#include <optional>
#include <vector>

namespace dorvex {

struct InkRun {
    long Left = 0;   // first column with ink
    long Right = 0;  // one past the last
};

struct InkSpan {
    long Left = 0;
    long Right = 0;
};

// The expected ink width of a character, as a share of the line's ink height: a Chinese
// character about 0.9, a digit or Latin letter 0.5, full-width punctuation 0.3, an ASCII mark 0.2.
double ExpectedInkWidth(char32_t c);

// The runs of columns of `profile` (ink per column, `origin` the first column's x) that hold ink.
std::vector<InkRun> InkRuns(const std::vector<int>& profile, long origin);

// Each character's span (in the runs' coordinates), or nullopt for a character to which no ink
// belongs (one the recogniser read into a gap). `expected` holds each character's expected
// width as a share of `height`, the line's ink height in pixels. Runs that no character takes
// (specks) are left out.
std::vector<std::optional<InkSpan>> MatchInk(const std::vector<double>& expected, const std::vector<InkRun>& runs, double height);

}  // namespace dorvex
