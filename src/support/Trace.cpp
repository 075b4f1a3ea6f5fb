#include "support/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace dorvex {
namespace {

bool TraceEnabledByEnvironment() {
    static const bool enabled = [] {
        const char* value = std::getenv("DORVEX_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

TraceSink& Sink() {
    static TraceSink sink;
    return sink;
}

// Background recognition traces too: one line at a time, whichever thread writes it.
std::recursive_mutex& SinkMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace

void DebugTrace(std::string_view text) {
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    if (Sink()) {
        Sink()(text);
        return;
    }
    if (TraceEnabledByEnvironment()) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    }
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    TraceSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

TraceScope::TraceScope(std::string name) : mName(std::move(name)) { DebugTrace(mName + " Start"); }

TraceScope::~TraceScope() { DebugTrace(mName + " End"); }

std::string UploadAddressMessage(std::string_view url) {
    return std::string("上傳網址:") + std::string(url);
}

std::string UploadResultMessage(std::string_view inno, long errCode, std::string_view description) {
    return "Inno=" + std::string(inno) + "\r\nErrCode=" + std::to_string(errCode) +
           "\r\nErrDescription=" + std::string(description);
}

}  // namespace dorvex
