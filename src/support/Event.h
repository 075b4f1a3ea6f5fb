#pragma once
// A minimal multicast event: windows raise, hosts connect. An event without listeners is dropped.

#include <functional>
#include <vector>

namespace dorvex {

template <typename... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;

    void Connect(Handler handler) { mHandlers.push_back(std::move(handler)); }
    void Raise(Args... args) const {
        for (const auto& handler : mHandlers) handler(args...);
    }
    bool HasListeners() const { return !mHandlers.empty(); }

private:
    std::vector<Handler> mHandlers;
};

}  // namespace dorvex
