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

// The printed lines of a level page, from its ink per row (`profile`, rule lines and frames
// already taken out; `dpi` the page's vertical resolution): each band of rows that holds ink,
// in order from the top. Rows with less ink than a few specks leave give none; bands split only
// by a gap narrower than the space between lines (the rows between the strokes of 二) are one
// line; a band far lower than the page's lines (specks, a stray stroke) is left out.
std::vector<InkRun> InkLines(const std::vector<int>& profile, int dpi);

// Where a line's ink (its runs of columns, in order) is set apart by a gap far wider than the
// gaps between its characters (as a letterhead sets the type of letter apart from the agency):
// the index of the first run after the last such gap, or 0 when there is none. `height` is
// the line's ink height; a gap counts from `minGap` heights on. Specks (narrow runs far from
// any ink) are passed over.
std::size_t SetApartFrom(const std::vector<InkRun>& runs, double height, double minGap = 1.0);

}  // namespace dorvex
