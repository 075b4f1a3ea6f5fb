// dorvex ocr: the letter fields of the first page of image files, as the scan window's
// recognition finds them, and optionally a searchable PDF of all their pages.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "Commands.h"
#include "ocr/SubTitle.h"
#include "ocr/WordParser.h"
#include "platform/Ocr.h"
#include "support/Error.h"
#include "support/Trace.h"

namespace dorvex::cli {
namespace {

constexpr const char* kOcrUsage =
    "usage: dorvex ocr [--json] [--pdf OUT.pdf] FILE...\n"
    "Recognises the first page of each image file (TIFF, JPEG, PNG, BMP) with Tesseract and the\n"
    "Traditional Chinese model, and prints the fields of the official letter on it: 類別 and\n"
    "機關名稱 from the letterhead, then every field title found (受文者, 發文日期, 發文字號, 主旨,\n"
    "說明, ...) with its value. A page on which no field is found prints its whole text instead.\n"
    "  --json         one JSON object per file and line:\n"
    "                 {\"file\":...,\"fields\":[{\"key\":...,\"value\":...,\"confidence\":...},...],\n"
    "                 \"text\":...} (\"confidence\": the engine's, 0 to 100, in the value's least sure\n"
    "                 character; -1 when nothing was read)\n"
    "                 (\"text\" is the whole text when no field was found, else \"\"; a file that\n"
    "                 cannot be read gives {\"file\":...,\"error\":...})\n"
    "  --pdf OUT.pdf  also write a searchable PDF of every page of the files, in order: each\n"
    "                 page as scanned with the recognised text laid invisibly over it. It is\n"
    "                 written whole or not at all (never when a file cannot be read).\n"
    "Exit status: 0; 1 when a file could not be read or recognised, the PDF could not be\n"
    "written, or the recognition engine or its Traditional Chinese data is missing; 64 for a\n"
    "usage error. DORVEX_TRACE=1 shows the engine's messages.\n";

void PrintFields(const std::string& file, const CWordParser& parser, bool json) {
    if (json) {
        std::cout << "{\"file\":" << JsonString(file) << ",\"fields\":[";
        bool first = true;
        for (const CPhase& phase : parser.GetData()) {
            std::cout << (first ? "" : ",") << "{\"key\":" << JsonString(phase.Key) << ",\"value\":" << JsonString(phase.Value)
                      << ",\"confidence\":" << static_cast<int>(std::lround(phase.Confidence)) << "}";
            first = false;
        }
        std::cout << "],\"text\":" << JsonString(parser.Text()) << "}" << std::endl;
        return;
    }
    std::cout << file << "\n";
    for (const CPhase& phase : parser.GetData()) {
        std::cout << "  " << phase.Key << ": " << phase.Value << (CPhase::IsUnsure(phase.Confidence) ? "  (?)" : "") << "\n";
    }
    if (parser.GetData().empty()) std::cout << "  (no field found) text: " << parser.Text() << "\n";
    std::cout << std::flush;
}

}  // namespace

int Ocr(const Args& args) {
    bool json = false;
    std::string pdf;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kOcrUsage;
            return 0;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg == "--pdf") {
            if (i + 1 >= args.size() || args[i + 1].empty()) return UsageError("--pdf needs the name of the PDF file to write");
            pdf = args[++i];
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("ocr needs at least one image file");

    CWordParser parser(ModSubTitle());
    OcrEngine& engine = parser.Engine();
    if (!engine.IsSupported()) {
        std::cerr << "dorvex ocr: " << engine.LastError() << "\n";
        return 1;
    }
    int status = 0;
    auto report = [&](std::size_t index, const OcrPage& page) {
        parser.LoadPage(page);
        PrintFields(files[index], parser, json);
    };
    auto fail = [&](const std::string& file, const std::string& what) {
        std::cerr << "dorvex ocr: " << file << ": " << what << "\n";
        if (json) std::cout << "{\"file\":" << JsonString(file) << ",\"error\":" << JsonString(what) << "}" << std::endl;
        status = 1;
    };

    // With a PDF, each page is recognised once: the writer hands over every first page.
    std::size_t next = 0;
    if (!pdf.empty()) {
        try {
            engine.WriteSearchablePdf(files, pdf, [&](std::size_t index, int page, const OcrPage& recognised) {
                if (page != 1) return;
                report(index, recognised);
                next = index + 1;
            });
        } catch (const std::exception& e) {
            std::cerr << "dorvex ocr: " << pdf << " was not written: " << e.what() << "\n";
            status = 1;
        }
    }
    for (std::size_t index = next; index < files.size(); ++index) {
        try {
            report(index, engine.RecognizeFirstPage(files[index]));
        } catch (const std::exception& e) {
            fail(files[index], e.what());
        }
    }
    return status;
}

}  // namespace dorvex::cli
