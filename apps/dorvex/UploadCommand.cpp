#include <cstdlib>
#include <iostream>

#include "Commands.h"
#include "platform/Http.h"
#include "platform/Raster.h"
#include "server/Upload.h"
#include "support/ModFS.h"
#include "support/Prompter.h"

namespace dorvex::cli {

int Upload(const Args& args) {
    std::string server = "http://127.0.0.1:8080/";
    std::string operatorName;
    std::string prefix;
    std::string proxy;
    std::string session;
    bool overwrite = false;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* option) -> const std::string* {
            if (i + 1 >= args.size()) return nullptr;
            (void)option;
            return &args[++i];
        };
        if (arg == "--overwrite") {
            overwrite = true;
        } else if (arg == "--server" || arg == "--operator" || arg == "--prefix" || arg == "--proxy" || arg == "--session") {
            const std::string* v = value(arg.c_str());
            if (v == nullptr) return UsageError(arg + " needs a value");
            (arg == "--server" ? server : arg == "--operator" ? operatorName : arg == "--prefix" ? prefix : arg == "--proxy" ? proxy : session) = *v;
        } else if (arg.rfind("--", 0) == 0) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) return UsageError("upload needs at least one file or folder");
    if (!session.empty()) {
        // The session cookie goes with every request, as the control sends the page's.
        std::size_t equals = session.find('=');
        if (equals == 0 || equals == std::string::npos) return UsageError("--session needs NAME=VALUE");
        PlantCookie(server, session.substr(0, equals), session.substr(equals + 1));
    }
    if (!proxy.empty()) {
        // The control's requests follow the environment's proxy settings.
        ::setenv("http_proxy", proxy.c_str(), 1);
        ::setenv("https_proxy", proxy.c_str(), 1);
    }

    StderrPrompter prompter;
    FrmUpload upload(prompter);
    upload.ServerURL = server;
    upload.Operator = operatorName;
    upload.DVDPrefix = prefix;
    upload.EnableOverWrite = overwrite;
    upload.UploadType = 1;
    bool allAccepted = true;
    for (const std::string& path : paths) {
        if (FolderExists(path)) {
            int before = upload.FileListCount();
            upload.AddFolder(path);
            if (upload.FileListCount() == before) {
                std::cerr << "dorvex upload: " << path << ": no image file (TIFF or JPEG) in this folder\n";
                allAccepted = false;
            }
        } else if (FileExists(path)) {
            auto info = ProbeImageHeader(path);
            upload.AddFile(path, GetFileName(path, ".*"), static_cast<std::int16_t>(info ? info->pages : 0), "", 0, "");
        } else {
            std::cerr << "dorvex upload: " << path << ": no such file or folder\n";
            allAccepted = false;
        }
    }
    std::size_t results = 0;
    upload.AfterUpload.Connect([&](const std::string& inno, long code, const std::string& text) {
        ++results;
        if (code != 1) {
            allAccepted = false;
            std::cerr << "dorvex upload: " << inno << ": " << text << "\n";
        }
    });
    bool finished = upload.StartUploadFiles();
    std::cout << upload.Report();
    if (!finished || results < static_cast<std::size_t>(upload.FileListCount())) allAccepted = false;
    return allAccepted ? 0 : 1;
}

}  // namespace dorvex::cli
