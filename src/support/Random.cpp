#include "support/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "support/Error.h"

namespace dorvex {

std::string SystemRandomBytes(std::size_t count) {
    std::string out(count, '\0');
    std::size_t filled = 0;
    while (filled < count) {
        ssize_t got = getrandom(out.data() + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw DorvexError(err::DeviceIo, std::string("no random source: ") + std::strerror(errno));
        }
        filled += static_cast<std::size_t>(got);
    }
    return out;
}

double SystemRandomUnit() {
    std::string bytes = SystemRandomBytes(8);
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return static_cast<double>(value >> 11) * 0x1.0p-53;
}

}  // namespace dorvex
