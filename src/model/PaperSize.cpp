#include "model/PaperSize.h"

#include <array>
#include <string_view>

namespace dorvex {
namespace {

constexpr std::array<std::string_view, CPSize::kCount> kPapers = {
    "NONE", "A4 - 210 × 297 mm", "JISB5 - 182 × 257 mm", "US letter", "US Legal", "A5 - 148 × 210 mm",
    "ISOB4 - 250 × 353 mm", "ISOB6 - 125 × 176 mm", "", "US Ledger", "US Executive", "A3 - 297 × 420 mm",
    "ISOB3 - 353 × 500 mm", "A6 - 105 × 148 mm", "C4 - 229 × 324 mm", "C5 - 162 × 229 mm", "C6 - 114 × 162 mm",
    "4A0 - 1682 × 2378 mm", "2A0 - 1189 × 1682 mm", "A0 - 841 × 1189 mm", "A1 - 594 × 841 mm",
    "A2 - 420 × 594 mm", "A7 - 74 × 105 mm", "A8 - 52 × 74 mm", "A9 - 37 × 52 mm", "A10 - 26 × 37 mm",
    "ISOB0 - 1000 × 1414 mm", "ISOB1 - 707 × 1000 mm", "ISOB2 - 500 × 707 mm", "ISOB5 - 176 × 250 mm",
    "ISOB7 - 88 × 125 mm", "ISOB8 - 62 × 88 mm", "ISOB9 - 44 × 62 mm", "ISOB10 - 31 × 44 mm",
    "JISB0 - 1030 × 1456", "JISB1 - 728 × 1030 mm", "JISB2 - 515 × 728 mm", "JISB3 - 364 × 515 mm",
    "JISB4 - 257 × 364 mm", "JISB6 - 128 × 182 mm", "JISB7 - 91 × 128 mm", "JISB8 - 64 × 91 mm",
    "JISB9 - 45 × 64 mm", "JISB10 - 32 × 45 mm", "C0 - 917 × 1297 mm", "C1 - 648 × 917 mm",
    "C2 - 458 × 648 mm", "C3 - 324 × 458 mm", "C7 - 81 × 114 mm", "C8 - 57 × 81 mm", "C9 - 40 × 57 mm",
    "C10 - 28 × 40 mm", "USSTATEMENT", "Business card - 3.5 × 2 英吋", "A4L - 297 × 210 mm",
};

// Sizes in mm by code; 0 where the code has none.
constexpr std::array<PaperMillimetres, CPSize::kCount> kSizes = {{
    {0, 0},       {210, 297},   {182, 257},   {215.9, 279.4}, {215.9, 355.6}, {148, 210},   {250, 353},
    {125, 176},   {0, 0},       {279.4, 431.8}, {184.2, 266.7}, {297, 420},  {353, 500},   {105, 148},
    {229, 324},   {162, 229},   {114, 162},   {1682, 2378},  {1189, 1682},  {841, 1189},  {594, 841},
    {420, 594},   {74, 105},    {52, 74},     {37, 52},      {26, 37},      {1000, 1414}, {707, 1000},
    {500, 707},   {176, 250},   {88, 125},    {62, 88},      {44, 62},      {31, 44},     {1030, 1456},
    {728, 1030},  {515, 728},   {364, 515},   {257, 364},    {128, 182},    {91, 128},    {64, 91},
    {45, 64},     {32, 45},     {917, 1297},  {648, 917},    {458, 648},    {324, 458},   {81, 114},
    {57, 81},     {40, 57},     {28, 40},     {0, 0},        {88.9, 50.8},  {297, 210},
}};

}  // namespace

std::optional<PaperMillimetres> PaperSizeOf(std::int32_t code) {
    if (code < 0 || code >= CPSize::kCount) return std::nullopt;
    PaperMillimetres size = kSizes[static_cast<std::size_t>(code)];
    if (size.width <= 0) return std::nullopt;
    return size;
}

std::string CPSize::GetPaperDescription(std::int32_t code) const {
    if (code < 0 || code >= kCount) return "無法辨識的紙張大小";
    return std::string(kPapers[static_cast<std::size_t>(code)]);
}

std::int32_t CPSize::GetPaperLong(const std::string& text) const {
    for (std::size_t i = 0; i < kPapers.size(); ++i) {
        if (kPapers[i] == text) return static_cast<std::int32_t>(i);
    }
    return 0;
}

}  // namespace dorvex
