#pragma once
// A desk where a scripted person works the windows instead of someone at the screen: in the
// scan window they press Scan, then Upload, then close it, pausing between steps as a person
// would (the host keeps serving meanwhile); an upload window runs by itself; every question
// gets its affirmative answer; the folder picker answers a given folder. For tests and
// demonstrations of the host without a display.

#include <string>

#include "control/OrbScan.h"
#include "host/Consent.h"
#include "support/Prompter.h"

namespace dorvex::host {

class ScriptedPerson : public IPrompter {
public:
    explicit ScriptedPerson(std::string folder) : mFolder(std::move(folder)) {}
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
    std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::string BrowseForFolder() override { return mFolder; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    void Yield() override;
    bool Interactive() const override { return false; }

private:
    std::string mFolder;
};

class ScriptedDesk : public InProcessHost {
public:
    ScriptedDesk(const std::string& folder, int pauseMilliseconds);

private:
    ScriptedPerson mPerson;
    int mPause;
};

// Gives the same answer to every consent question.
class ScriptedConsent : public IConsentAsker {
public:
    explicit ScriptedConsent(ConsentAnswer answer) : mAnswer(answer) {}
    void Ask(const std::string&, std::function<void(ConsentAnswer)> done) override { done(mAnswer); }

private:
    ConsentAnswer mAnswer;
};

// Serves the event loop for a while, as a window open in front of a person does.
void ServeFor(int milliseconds);

}  // namespace dorvex::host
