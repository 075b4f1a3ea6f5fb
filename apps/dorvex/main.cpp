// dorvex: the command line of the Dorvex scanning control.

#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "server/Cipher.h"
#include "support/CodePage.h"
#include "support/Error.h"

namespace {

constexpr std::string_view kUsage = R"(usage: dorvex COMMAND [ARGS]

Commands:
  encrypt TEXT   Encipher TEXT with the control's parameter cipher and print the result.
                 Web pages pass the server address, operator, batch number, document number
                 and prefix to the control this way (EncServerURL, EncOperator, EncBatchNo,
                 EncInno, EncDVDPrefix). TEXT is UTF-8; it is enciphered as CP950 (the
                 Traditional Chinese code page the servers use), so it may hold any character
                 CP950 can express. Each call prints a different cipher text (a random prefix
                 is part of it); all of them decrypt to the same TEXT.
  decrypt TEXT   Decipher a cipher text made by `encrypt` (or by any correct implementation
                 of the cipher) and print the plain text in UTF-8.
  --help         Show this help.

Exit status: 0 on success, 2 when TEXT cannot be enciphered (a character outside CP950) or
deciphered (not a cipher text, or one that holds no text), 64 for a usage error.
)";

int Usage(const std::string& problem) {
    std::cerr << "dorvex: " << problem << "\n" << "Try 'dorvex --help'.\n";
    return 64;
}

int RunEncrypt(const std::string& text) {
    auto ansi = dorvex::TryToAnsi(text);
    if (!ansi) {
        std::cerr << "dorvex encrypt: the text has characters that CP950 (Traditional Chinese) cannot express\n";
        return 2;
    }
    std::cout << dorvex::Encrypt(*ansi) << "\n";
    return 0;
}

int RunDecrypt(const std::string& cipherText) {
    std::string bytes;
    try {
        bytes = dorvex::Decrypt(cipherText);
    } catch (const dorvex::DorvexError&) {
        std::cerr << "dorvex decrypt: not a cipher text, or one that holds no text\n";
        return 2;
    }
    auto text = dorvex::TryFromAnsi(bytes);
    if (!text) {
        std::cerr << "dorvex decrypt: the result is not CP950 text (a damaged cipher text or another key)\n";
        return 2;
    }
    std::cout << *text << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "encrypt" || command == "decrypt") {
        if (args.size() != 2) return Usage(command + " takes exactly one TEXT");
        return command == "encrypt" ? RunEncrypt(args[1]) : RunDecrypt(args[1]);
    }
    return Usage("unknown command '" + command + "'");
}
