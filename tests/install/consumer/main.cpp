// Embeds the control as an integrator's program would: a host, the control's properties kept
// in a property bag, a document added, and a scan window opened and closed by the program.
#include <iostream>

#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "server/Cipher.h"
#include "support/Prompter.h"

int main() {
    dorvex::StderrPrompter person;
    dorvex::InProcessHost host(person);
    dorvex::OrbScan control(host);
    control.SetEncOperator(dorvex::EncryptText("王小明"));
    control.AddInno("1150000001", 2, true, "B1");
    dorvex::PropertyBag bag;
    control.WriteProperties(bag);
    dorvex::OrbScan reloaded(host);
    reloaded.ReadProperties(bag);

    std::string mode;
    host.Person = [&](dorvex::FrmScan& window) { mode = window.Properties(0); };
    control.ShowMultiTwain("");  // no server address: the window opens offline and closes
    std::cout << dorvex::DecryptText(reloaded.EncOperator()) << " " << control.ScanList().TotalInnos() << " " << mode
              << "\n";
    return 0;
}
