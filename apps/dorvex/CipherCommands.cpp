#include <iostream>

#include "Commands.h"
#include "server/Base64.h"
#include "server/Cipher.h"
#include "support/CodePage.h"
#include "support/Error.h"

namespace dorvex::cli {

int UsageError(const std::string& problem) {
    std::cerr << "dorvex: " << problem << "\n" << "Try 'dorvex --help'.\n";
    return 64;
}

int Encrypt(const Args& args) {
    if (args.size() != 1) return UsageError("encrypt takes exactly one TEXT");
    auto ansi = TryToAnsi(args[0]);
    if (!ansi) {
        std::cerr << "dorvex encrypt: the text has characters that CP950 (Traditional Chinese) cannot express\n";
        return 2;
    }
    std::cout << dorvex::Encrypt(*ansi) << "\n";
    return 0;
}

int Decrypt(const Args& args) {
    if (args.size() != 1) return UsageError("decrypt takes exactly one TEXT");
    std::string bytes;
    // A cipher text typed or pasted by a person is checked strictly: a stray character inside
    // would otherwise be skipped and give a different text.
    if (!Base64DecodeStrict(args[0])) {
        std::cerr << "dorvex decrypt: not a cipher text (it must be base64 without other characters)\n";
        return 2;
    }
    try {
        bytes = dorvex::Decrypt(args[0]);
    } catch (const DorvexError&) {
        std::cerr << "dorvex decrypt: not a cipher text, or one that holds no text\n";
        return 2;
    }
    auto text = TryFromAnsi(bytes);
    if (!text) {
        std::cerr << "dorvex decrypt: the result is not CP950 text (a damaged cipher text or another key)\n";
        return 2;
    }
    std::cout << *text << "\n";
    return 0;
}

}  // namespace dorvex::cli
