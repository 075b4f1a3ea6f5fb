// dorvex: the command line of the Dorvex scanning control.

#include <csignal>
#include <iostream>
#include <string_view>

#include "Commands.h"
#include "platform/PageMemory.h"

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
  upload [OPTIONS] PATH...
                 Upload image files and folders to the server, as the control does. A file is
                 one document named after the file (without extension) holding all its pages;
                 a folder is scanned: every TIFF file is a document named after the file, the
                 JPEG files of a folder are the pages of a document named after the folder
                 (page number = file name). The report (document,code,message,path per line;
                 code 1 is success) goes to standard output.
                   --server URL       the server address (default http://127.0.0.1:8080/)
                   --operator NAME    the operator sent with every request
                   --prefix P         the prefix passed through to the server (dvdprefix)
                   --proxy HOST:PORT  send through this HTTP proxy
                   --session NAME=VALUE
                                      send the session cookie NAME=VALUE with every
                                      request (the server tells uploaders apart by it)
                   --overwrite        replace documents the server already holds (without
                                      it, a document the server holds stops the upload)
                 Exit status 0 when every file was accepted, 1 otherwise.
  server --listen HOST:PORT --data DIR [--db URL] [--seed FILE] [--max-body BYTES]
         [--session-cookie NAME]
                 Run the reference server: it speaks the whole protocol at every path,
                 stores uploads in DIR (SQLite and files) and answers scan lists,
                 capabilities, messages and OCR corrections from the seed file. PORT 0 picks
                 a free port. It prints "listening on URL" when ready and stops on Ctrl-C or
                 SIGTERM. With --db postgresql://USER@HOST:PORT/DBNAME the documents and the
                 uploads in progress are kept in PostgreSQL and only the files in DIR, so
                 that several instances sharing the database and DIR (a network file
                 system) serve the same documents behind a load balancer. An upload belongs
                 to its operator and session cookie (NAME, default SessionID), whatever
                 connection or instance its parts reach. See docs/protocol.md.
  clean [--set NAME=VALUE]... [-o DIR] FILE...
                 Run the clean-up chain (invert, deskew, trim, border removal, fit, despeckle,
                 rotation, as the settings ask) on every page of the image files, with the
                 settings named as in the settings file (for example --set Deskew=1
                 --set DeskewAngle=10 --set UseBarcode=1 --set WPageRemove=1); the chain is
                 always on. Prints one JSON object per page with "file", "page", "width",
                 "height", "bits", "skew" (hundredths of a degree), "blank", "barcode" and
                 "output". With -o DIR (created when missing) the cleaned pages go to
                 DIR/NAME.tif, blank pages left out when WPageRemove=1; each output file is
                 written whole or not at all, and never over an input file or another
                 output (a second NAME becomes NAME_2.tif). Exit status 1 when any page
                 could not be read, processed or written (each is named on standard error).
                 `dorvex clean --help` lists the settings.
  ocr [--json] [--pdf OUT.pdf] FILE...
                 Recognise the first page of each image file (Tesseract, Traditional Chinese)
                 and print the fields of the official letter on it (類別, 機關名稱, 受文者,
                 發文日期, 發文字號, 主旨, ...), or its whole text when no field is found. With
                 --json one JSON object per file; with --pdf a searchable PDF of every page
                 (the scan with an invisible text layer), written whole or not at all. Exit
                 status 1 when a file cannot be read or the engine or its chi_tra data is
                 missing. `dorvex ocr --help`.
  scan --device DEVICE [--server URL --operator NAME] [--batch B] [--set NAME=VALUE]...
       [--no-upload] [--resume] [--json]
                 Scan unattended into documents (clean-up, splitting by barcode or separator
                 sheet, storing, recovery file after every page), then upload every document.
                 DEVICE is a SANE device or file:PATH (the image files of a folder, or the
                 pages of one file, fed as by a document feeder). `dorvex scan --help`.
  window [--method NAME] [--inno INNO] [scan's --device --server --operator --set] --script FILE
                 Run the scan window without a display for a person who performs FILE's
                 actions (scan, select, command, tree, answer, type, upload, close, wait);
                 one JSON line of the tree, documents and recovery file after each action.
                 `dorvex window --help`.
  recover [--json]
                 List what a restore would bring back from the recovery file: documents,
                 pages, files and problems.
  devices        List the scanner devices.
  cscript FILE   Carry out a delayed-upload script ("Dorvex.vbs" in the temporary folder,
                 written when a delayed upload is scheduled from the scan window; the
                 scheduled job runs this). It sends every file of the list "Dorvex.dat"
                 to the server, deletes each file the server accepted and keeps the lines
                 of the others for the next run. Exit status 1 when files are still
                 waiting or the script is not of that form.
  jobs           List the delayed uploads scheduled (at jobs of queue "d") and the files
                 still waiting in the list.
  demo           Start the reference server, open a scan window through the control on the
                 sample letters, scan, upload and close, and show what the server holds.
  host [OPTIONS] Run the local service that lets web pages on this desk use the control
                 (dorvex-host: 127.0.0.1 only, the origins listed in host.ini).
  host allow ORIGIN [--always] | host forget ORIGIN | host origins | host port N
                 List an origin (https://desk.example.org) that may ask the person to use
                 the control, take one off, show the list, set the port.
  --help         Show this help.

Exit status: 0 on success; 1 when an upload was not accepted whole; 2 when TEXT cannot be
enciphered (a character outside CP950) or deciphered (not a cipher text, or one that holds no
text), or when the server cannot start; 64 for a usage error.
)";

}  // namespace

int main(int argc, char** argv) {
    // A file size limit then fails the write, which is reported, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    dorvex::KeepPageBuffersForReuse();
    dorvex::cli::Args args(argv + 1, argv + argc);
    if (args.empty()) return dorvex::cli::UsageError("no command given");
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "encrypt") return dorvex::cli::Encrypt(args);
    if (command == "decrypt") return dorvex::cli::Decrypt(args);
    if (command == "upload") return dorvex::cli::Upload(args);
    if (command == "server") return dorvex::cli::Server(args);
    if (command == "clean") return dorvex::cli::Clean(args);
    if (command == "ocr") return dorvex::cli::Ocr(args);
    if (command == "scan") return dorvex::cli::Scan(args);
    if (command == "window") return dorvex::cli::Window(args);
    if (command == "recover") return dorvex::cli::Recover(args);
    if (command == "devices") return dorvex::cli::Devices(args);
    if (command == "demo") return dorvex::cli::Demo(args);
    if (command == "cscript") return dorvex::cli::Cscript(args);
    if (command == "jobs") return dorvex::cli::Jobs(args);
    if (command == "host") return dorvex::cli::Host(args);
    return dorvex::cli::UsageError("unknown command '" + command + "'");
}
