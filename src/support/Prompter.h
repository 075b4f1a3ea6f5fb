#pragma once
// The one way a window's controller reaches the person: message boxes, input boxes, pickers,
// and Yield() between pages and chunks so that the views stay live. The Qt views answer with
// real dialogs; tests answer with a script; the command line with StderrPrompter.

#include <optional>
#include <string>

namespace dorvex {

enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgResult { OK, Cancel, Yes, No };

class IPrompter {
public:
    virtual ~IPrompter() = default;
    virtual MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons,
                                 MsgIcon icon) = 0;
    // nullopt when the person cancels.
    virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText) = 0;
    // "" when the person cancels.
    virtual std::string BrowseForFolder() = 0;
    virtual std::string SaveFileName(const std::string& title, const std::string& filter) = 0;
    // Serves the event loop (repaints, input) during long work.
    virtual void Yield() = 0;
    // False when no person answers (an unattended run): a question that would be asked again
    // until answered is then given up.
    virtual bool Interactive() const { return true; }
};

// For unattended use: messages go to standard error, questions get their safe answer
// (OK, No, Cancel), pickers are cancelled.
class StderrPrompter : public IPrompter {
public:
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    std::string BrowseForFolder() override { return {}; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    void Yield() override {}
    bool Interactive() const override { return false; }
};

}  // namespace dorvex
