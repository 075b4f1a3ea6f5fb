#pragma once
// The person, through Qt's own dialogs: message boxes, input boxes, folder and file pickers,
// and Yield() that serves the event loop during long work.

#include <QPointer>
#include <QWidget>

#include "support/Prompter.h"

namespace dorvex::ui {

class QtPrompter : public IPrompter {
public:
    explicit QtPrompter(QWidget* parent = nullptr) : mParent(parent) {}
    void SetParent(QWidget* parent) { mParent = parent; }
    QWidget* Parent() const { return mParent; }

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    std::string BrowseForFolder() override;
    // `filter` is pairs of description and pattern separated by "|".
    std::string SaveFileName(const std::string& title, const std::string& filter) override;
    void Yield() override;

    // "A|*.a|B|*.b" as a Qt file-dialog filter: "A (*.a);;B (*.b)".
    static QString QtFilter(const std::string& filter);

private:
    QPointer<QWidget> mParent;
};

}  // namespace dorvex::ui
