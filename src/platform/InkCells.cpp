#include "platform/InkCells.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace dorvex {

double ExpectedInkWidth(char32_t c) {
    const bool han = (c >= 0x3400 && c < 0xA000) || (c >= 0xF900 && c < 0xFB00) || (c >= 0x20000 && c < 0x30000);
    if (han) return 0.9;
    if (c >= 0x3000 && c < 0x3040) return 0.3;  // 、。「」〝〞 and the rest of CJK punctuation
    if (c >= 0xFF01 && c < 0xFF61) {           // full-width forms: letters and digits as wide as Latin ones
        char32_t ascii = c - 0xFEE0;
        return (ascii >= U'0' && ascii <= U'9') || (ascii >= U'A' && ascii <= U'Z') || (ascii >= U'a' && ascii <= U'z') ? 0.7 : 0.3;
    }
    if ((c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || c == U'@' || c == U'%' ||
        c == U'&' || c == U'#') {
        return 0.5;
    }
    if (c < 0x80) return 0.2;  // ASCII marks: . , : ; ( ) - / ' "
    if (c >= 0x2010 && c < 0x2070) return 0.2;  // dashes and curly quotes
    return 0.7;
}

std::vector<InkRun> InkRuns(const std::vector<int>& profile, long origin) {
    std::vector<InkRun> runs;
    const long n = static_cast<long>(profile.size());
    for (long x = 0; x < n;) {
        if (profile[static_cast<std::size_t>(x)] == 0) {
            ++x;
            continue;
        }
        long start = x;
        while (x < n && profile[static_cast<std::size_t>(x)] != 0) ++x;
        runs.push_back({origin + start, origin + x});
    }
    return runs;
}

std::vector<std::optional<InkSpan>> MatchInk(const std::vector<double>& expected, const std::vector<InkRun>& runs, double height) {
    const std::size_t n = expected.size();
    const std::size_t m = runs.size();
    std::vector<std::optional<InkSpan>> spans(n);
    if (n == 0 || m == 0 || height <= 0) return spans;

    constexpr double kNoInk = 1.0;        // a character with no ink of its own
    constexpr double kNoInkMark = 0.5;    // a mark without ink: an engine reads them into gaps
    constexpr double kSkipBase = 0.4;     // a run no character takes (a speck costs little)
    constexpr double kInnerGap = 0.3;     // gaps inside one character up to this share are free
    constexpr double kShareBase = 0.5;    // each further character in a shared (touching) run
    constexpr std::size_t kMaxRuns = 6;   // runs one character may be made of
    constexpr std::size_t kMaxShare = 4;  // characters that may share one run
    const double inf = std::numeric_limits<double>::infinity();

    enum class Step : unsigned char { None, Skip, NoInk, Take, Share };
    struct Cell {
        double cost;
        Step step;
        unsigned char count;  // runs taken (Take) or characters sharing (Share)
    };
    std::vector<Cell> table((n + 1) * (m + 1), Cell{inf, Step::None, 0});
    auto at = [&](std::size_t i, std::size_t j) -> Cell& { return table[i * (m + 1) + j]; };
    auto width = [&](std::size_t from, std::size_t to) {  // runs from..to-1, 0-based
        return static_cast<double>(runs[to - 1].Right - runs[from].Left);
    };
    auto innerGaps = [&](std::size_t from, std::size_t to) {
        double penalty = 0;
        for (std::size_t k = from + 1; k < to; ++k) {
            double gap = static_cast<double>(runs[k].Left - runs[k - 1].Right) / height;
            if (gap > kInnerGap) penalty += 2 * (gap - kInnerGap);
        }
        return penalty;
    };
    auto relax = [&](std::size_t i, std::size_t j, double cost, Step step, std::size_t count) {
        Cell& cell = at(i, j);
        if (cost < cell.cost) cell = {cost, step, static_cast<unsigned char>(count)};
    };

    at(0, 0).cost = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        for (std::size_t j = 0; j <= m; ++j) {
            if (i == 0 && j == 0) continue;
            if (j > 0 && at(i, j - 1).cost < inf) {
                relax(i, j, at(i, j - 1).cost + kSkipBase + width(j - 1, j) / height, Step::Skip, 0);
            }
            if (i > 0 && at(i - 1, j).cost < inf) {
                relax(i, j, at(i - 1, j).cost + (expected[i - 1] <= 0.3 ? kNoInkMark : kNoInk), Step::NoInk, 0);
            }
            if (i > 0) {
                for (std::size_t k = 1; k <= kMaxRuns && k <= j; ++k) {
                    const Cell& from = at(i - 1, j - k);
                    if (from.cost == inf) continue;
                    double cost = std::fabs(width(j - k, j) / height - expected[i - 1]) + innerGaps(j - k, j);
                    relax(i, j, from.cost + cost, Step::Take, k);
                }
            }
            if (j > 0) {
                double sum = 0;
                for (std::size_t r = 1; r <= kMaxShare && r <= i; ++r) {
                    sum += expected[i - r];
                    if (r < 2) continue;
                    const Cell& from = at(i - r, j - 1);
                    if (from.cost == inf) continue;
                    double cost = std::fabs(width(j - 1, j) / height - sum) + kShareBase * static_cast<double>(r - 1);
                    relax(i, j, from.cost + cost, Step::Share, r);
                }
            }
        }
    }

    // Walk back from the end.
    std::size_t i = n, j = m;
    while (i > 0 || j > 0) {
        const Cell& cell = at(i, j);
        switch (cell.step) {
            case Step::Skip: --j; break;
            case Step::NoInk: --i; break;
            case Step::Take:
                spans[i - 1] = InkSpan{runs[j - cell.count].Left, runs[j - 1].Right};
                --i;
                j -= cell.count;
                break;
            case Step::Share: {
                const InkRun& run = runs[j - 1];
                double sum = 0;
                for (std::size_t r = 0; r < cell.count; ++r) sum += expected[i - 1 - r];
                double x = static_cast<double>(run.Left);
                const double scale = static_cast<double>(run.Right - run.Left) / (sum > 0 ? sum : 1);
                for (std::size_t r = cell.count; r > 0; --r) {
                    std::size_t index = i - r;
                    double next = x + expected[index] * scale;
                    spans[index] = InkSpan{std::lround(x), std::lround(next)};
                    x = next;
                }
                i -= cell.count;
                --j;
                break;
            }
            case Step::None: return spans;  // unreachable: every cell but (0, 0) has a way in
        }
    }
    return spans;
}

std::vector<InkRun> InkLines(const std::vector<int>& profile, int dpi) {
    if (dpi < 70 || dpi > 2400) dpi = 300;
    // A speck of the glass is a few pixels across; a row through a line of text crosses
    // strokes of several characters.
    const int minInk = std::max(2, dpi / 100);
    const long minHeight = std::max(3, dpi / 25);  // about 3 pt: no line of text is lower
    std::vector<int> inked(profile.size());
    for (std::size_t y = 0; y < profile.size(); ++y) inked[y] = profile[y] >= minInk ? 1 : 0;
    std::vector<InkRun> runs = InkRuns(inked, 0);
    std::vector<long> heights;
    for (const InkRun& r : runs) {
        if (r.Right - r.Left >= minHeight) heights.push_back(r.Right - r.Left);
    }
    if (heights.empty()) return {};
    std::nth_element(heights.begin(), heights.begin() + static_cast<long>(heights.size() / 2), heights.end());
    const long typical = heights[heights.size() / 2];
    // A gap inside a character (between the strokes of 二) is a third of its height or less;
    // lines are set further apart. Lines merged by mistake are still read apart by the
    // recogniser; a line cut in two would not be.
    const long mergeGap = std::max<long>(1, typical * 2 / 5);
    std::vector<InkRun> bands;
    for (const InkRun& run : runs) {
        if (!bands.empty() && run.Left - bands.back().Right < mergeGap) {
            bands.back().Right = run.Right;
        } else {
            bands.push_back(run);
        }
    }
    const long lowest = std::max(minHeight, typical / 4);
    bands.erase(std::remove_if(bands.begin(), bands.end(), [&](const InkRun& b) { return b.Right - b.Left < lowest; }), bands.end());
    return bands;
}

std::size_t SetApartFrom(const std::vector<InkRun>& runs, double height, double minGap) {
    if (runs.size() < 2 || height <= 0) return 0;
    // A speck is a narrow run far from the ink on either side; it sets nothing apart.
    auto gapBefore = [&](std::size_t i) { return static_cast<double>(i == 0 ? LONG_MAX / 4 : runs[i].Left - runs[i - 1].Right); };
    auto gapAfter = [&](std::size_t i) { return static_cast<double>(i + 1 == runs.size() ? LONG_MAX / 4 : runs[i + 1].Left - runs[i].Right); };
    std::vector<std::size_t> ink;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const bool narrow = static_cast<double>(runs[i].Right - runs[i].Left) < 0.15 * height;
        if (!(narrow && gapBefore(i) >= 0.5 * height && gapAfter(i) >= 0.5 * height)) ink.push_back(i);
    }
    // The last wide gap: the word that ends the line.
    for (std::size_t k = ink.size(); k-- > 1;) {
        const double gap = static_cast<double>(runs[ink[k]].Left - runs[ink[k - 1]].Right);
        if (gap >= minGap * height) return ink[k];
    }
    return 0;
}

}  // namespace dorvex
