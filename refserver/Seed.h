#pragma once
// What the reference server answers for the questions whose answers it does not store: each
// operator's scan list and scanning capabilities, the message table and the OCR corrections.
// Read from an XML seed file (see docs/protocol.md); without one, all are empty.

#include <map>
#include <string>

namespace dorvex::refserver {

struct Seed {
    // Per operator ("*" for any operator not named): the inner XML of <ScanList> and <ScanCaps>.
    std::map<std::string, std::string> scanLists;
    std::map<std::string, std::string> scanCaps;
    std::string messages;    // inner XML of <Messages>
    std::string fixedWords;  // inner XML of <FixedWords>

    const std::string& ScanListFor(const std::string& operatorName) const;
    const std::string& ScanCapsFor(const std::string& operatorName) const;
};

// Throws DorvexError with a clear description when the file cannot be read or is not a seed.
Seed LoadSeed(const std::string& path);
Seed ParseSeed(const std::string& xml);

}  // namespace dorvex::refserver
