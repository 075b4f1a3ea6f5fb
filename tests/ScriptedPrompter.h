#pragma once
// The person, scripted: records every message box and answers with the given buttons.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/Prompter.h"

namespace dorvex::test {

class ScriptedPrompter : public IPrompter {
public:
    // One message box as it was shown.
    struct Box {
        std::string text;
        std::string title;
        MsgButtons buttons;
        MsgIcon icon;
    };
    std::vector<std::string> messages;  // the texts of `boxes`
    std::vector<Box> boxes;
    std::deque<MsgResult> answers;  // used in order; OK when empty
    std::string folder;             // what BrowseForFolder answers
    std::deque<std::optional<std::string>> inputs;
    int yields = 0;

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override {
        messages.push_back(text);
        boxes.push_back({text, title, buttons, icon});
        if (answers.empty()) return MsgResult::OK;
        MsgResult answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string&) override {
        if (inputs.empty()) return std::nullopt;
        auto answer = inputs.front();
        inputs.pop_front();
        return answer;
    }
    std::string BrowseForFolder() override { return folder; }
    std::string saveName;           // what SaveFileName answers
    std::string saveFilter;         // the filter it was last offered
    std::string SaveFileName(const std::string&, const std::string& filter) override {
        saveFilter = filter;
        return saveName;
    }
    std::function<void()> onYield;  // what happens while the program lets events run
    void Yield() override {
        ++yields;
        if (onYield) onYield();
    }
    // The person leaves once the scripted inputs are used up.
    bool Interactive() const override { return !inputs.empty(); }
};

}  // namespace dorvex::test
