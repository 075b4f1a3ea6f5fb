#pragma once
// One recognised letter field: a title (or "類別", "機關名稱") and its value, with how sure the
// recognition was of the value.

#include <string>

namespace dorvex {

struct CPhase {
    std::string Key;
    std::string Value;
    // The engine's confidence (0 to 100) in the least sure character of the value; -1 where no
    // engine gave it (a person wrote the value, or nothing was read).
    float Confidence = -1;

    // Below this a field is worth the clerk's second look. Measured on the recognition corpus:
    // it marks 10 of 24 misread fields and 12 of 288 exact ones (the engine is sure of most of
    // its misreadings, so the mark finds about half of them at little cost).
    static constexpr float kSure = 85;
    static bool IsUnsure(float confidence) { return confidence >= 0 && confidence < kSure; }
    // The same field whatever the confidence: that says how it was read, not what it says.
    bool operator==(const CPhase& other) const { return Key == other.Key && Value == other.Value; }
};

}  // namespace dorvex
