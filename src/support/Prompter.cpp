#include "support/Prompter.h"

#include <iostream>

namespace dorvex {

MsgResult StderrPrompter::MessageBox(const std::string& text, const std::string& title, MsgButtons buttons,
                                     MsgIcon /*icon*/) {
    std::cerr << (title.empty() ? std::string() : title + ": ") << text << "\n";
    switch (buttons) {
        case MsgButtons::OK: return MsgResult::OK;
        case MsgButtons::OKCancel: return MsgResult::Cancel;
        case MsgButtons::YesNo: return MsgResult::No;
        case MsgButtons::YesNoCancel: return MsgResult::Cancel;
    }
    return MsgResult::OK;
}

std::optional<std::string> StderrPrompter::InputBox(const std::string& prompt, const std::string& /*title*/,
                                                    const std::string& /*defaultText*/) {
    std::cerr << prompt << " (no answer: running unattended)\n";
    return std::nullopt;
}

}  // namespace dorvex
