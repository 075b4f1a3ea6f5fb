#pragma once
// The trace hook every window procedure calls on entry and exit, and the texts of the scan
// window's DebugMessage event. Traces go nowhere unless DORVEX_TRACE=1 (then to standard error)
// or a sink has been installed. Any thread may trace; a sink is called by one at a time.

#include <functional>
#include <string>
#include <string_view>

namespace dorvex {

void DebugTrace(std::string_view text);

// Replaces where traces go; an empty function restores the default. Returns the previous sink.
using TraceSink = std::function<void(std::string_view)>;
TraceSink SetTraceSink(TraceSink sink);

// Writes "<name> Start" now and "<name> End" when the scope ends (also on an exception).
class TraceScope {
public:
    explicit TraceScope(std::string name);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    std::string mName;
};

// "上傳網址:" followed by the upload address.
std::string UploadAddressMessage(std::string_view url);
// "Inno=…", "ErrCode=…", "ErrDescription=…" joined by CR LF.
std::string UploadResultMessage(std::string_view inno, long errCode, std::string_view description);

}  // namespace dorvex
