#pragma once
// The consent question for a web page that wants to use the scanner: allow once, always
// allow, or deny. Shown without blocking, so that the host keeps serving while it waits.

#include <QPointer>

#include "host/Consent.h"

#include <QMessageBox>

namespace dorvex::ui {

class ConsentDialog : public host::IConsentAsker {
public:
    void Ask(const std::string& origin, std::function<void(host::ConsentAnswer)> done) override;
    // The box being shown (for tests and screenshots), or null.
    QMessageBox* Current() const { return mBox; }

private:
    QPointer<QMessageBox> mBox;
};

}  // namespace dorvex::ui
