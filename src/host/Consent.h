#pragma once
// The person's consent for a listed origin: asked once per connection unless the person has
// said "always" (kept in the configuration) or has denied the origin since the host started.
// One question at a time; connections of an origin being asked wait for that answer.

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/HostConfig.h"

namespace dorvex::host {

enum class ConsentAnswer { Once, Always, Deny };

// Asks the person; calls `done` exactly once, later or at once.
class IConsentAsker {
public:
    virtual ~IConsentAsker() = default;
    virtual void Ask(const std::string& origin, std::function<void(ConsentAnswer)> done) = 0;
};

class ConsentKeeper {
public:
    ConsentKeeper(HostConfig& config, IConsentAsker& asker) : mConfig(config), mAsker(asker) {}

    // Calls `done(true)` when the origin may use the control, `done(false)` when not.
    void Request(const std::string& origin, std::function<void(bool)> done);

private:
    struct Waiting {
        std::string origin;
        std::vector<std::function<void(bool)>> done;
    };
    void AskNext();
    void Answered(ConsentAnswer answer);

    HostConfig& mConfig;
    IConsentAsker& mAsker;
    std::deque<Waiting> mQueue;  // front: the origin being asked
    bool mAsking = false;
    std::set<std::string> mDenied;  // origins denied since the host started
};

}  // namespace dorvex::host
