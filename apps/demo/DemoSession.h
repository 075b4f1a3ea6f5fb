#pragma once
// The demonstration session shared by `dorvex demo` and `dorvex-gui --demo`: a fresh work
// folder (private settings and temporary folder), the reference server on a free loopback
// port with a seed for the sample letters, and the file feeder loaded with them.

#include <memory>
#include <string>

namespace dorvex {
class OrbScan;
namespace refserver {
class RefServer;
}

class DemoSession {
public:
    static constexpr const char* kOperator = "王小明";
    static constexpr const char* kBatch = "1150301";

    // Throws DorvexError when the letters are missing or the server cannot start.
    explicit DemoSession(const std::string& letters);
    ~DemoSession();

    const std::string& Work() const { return mWork; }
    const std::string& Url() const { return mUrl; }
    std::string DataDir() const { return mWork + "/data"; }
    // The control's session values, enciphered as a page hands them over.
    void Configure(OrbScan& control) const;
    // What the server holds of the two letters, one line each; false when it lacks one.
    bool Holdings(std::string& text) const;

private:
    std::string mWork;
    std::string mUrl;
    std::unique_ptr<refserver::RefServer> mServer;
};

// The folder of the sample letters made at build time ("" when not known).
std::string DefaultLettersFolder();

}  // namespace dorvex
