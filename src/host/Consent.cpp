#include "host/Consent.h"

#include <algorithm>

#include "support/Trace.h"

namespace dorvex::host {

void ConsentKeeper::Request(const std::string& origin, std::function<void(bool)> done) {
    mConfig.Reload();  // the person may have edited the list since
    if (mConfig.Access(origin) != OriginAccess::Listed || mDenied.count(origin) != 0) return done(false);
    if (mConfig.ConsentOf(origin) == Consent::Always) return done(true);
    auto same = std::find_if(mQueue.begin(), mQueue.end(), [&](const Waiting& w) { return w.origin == origin; });
    if (same != mQueue.end()) {
        same->done.push_back(std::move(done));
        return;
    }
    mQueue.push_back(Waiting{origin, {std::move(done)}});
    AskNext();
}

void ConsentKeeper::AskNext() {
    if (mAsking || mQueue.empty()) return;
    mAsking = true;
    mAsker.Ask(mQueue.front().origin, [this](ConsentAnswer answer) { Answered(answer); });
}

void ConsentKeeper::Answered(ConsentAnswer answer) {
    Waiting asked = std::move(mQueue.front());
    mQueue.pop_front();
    mAsking = false;
    if (answer == ConsentAnswer::Deny) mDenied.insert(asked.origin);
    // The list as it is now: an origin forgotten while the question was open stays out, and
    // "always" goes into the file as it is, not over it.
    mConfig.Reload();
    const bool listed = mConfig.Access(asked.origin) == OriginAccess::Listed;
    if (answer == ConsentAnswer::Always && listed) {
        try {
            mConfig.Allow(asked.origin, Consent::Always);
            mConfig.Save();
        } catch (const std::exception& e) {
            // Allowed now all the same; it will be asked again next time.
            DebugTrace(std::string("cannot remember the consent: ") + e.what());
        }
    }
    for (auto& done : asked.done) done(answer != ConsentAnswer::Deny && listed);
    AskNext();
}

}  // namespace dorvex::host
