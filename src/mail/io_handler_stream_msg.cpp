#include "mail/io_handler_stream_msg.h"

#include <cstring>
#include <string_view>

namespace tzn {

int TMxIOHandlerStreamMsg::RecvBytes(char* buffer, int size, int timeoutMs) {
    if (!FTerminatorSent) {
        int n = TMxIOHandlerStream::RecvBytes(buffer, size, timeoutMs);
        if (n > 0) {
            FLastByte = buffer[n - 1];
            FHaveLastByte = true;
            return n;
        }
        // The stream ran dry: close the last line (if it lacks its break) and end the
        // letter, once. A file that has its own "." line has stopped the reader already.
        std::string_view end = !FHaveLastByte      ? std::string_view("\r\n.\r\n")
                               : FLastByte == '\n' ? std::string_view(".\r\n")
                               : FLastByte == '\r' ? std::string_view("\n.\r\n")
                                                   : std::string_view("\r\n.\r\n");
        FPending.assign(end);
        FTerminatorSent = true;
    }
    if (FPending.empty())
        return 0;
    size_t n = std::min(FPending.size(), static_cast<size_t>(size > 0 ? size : 0));
    std::memcpy(buffer, FPending.data(), n);
    FPending.erase(0, n);
    return static_cast<int>(n);
}

} // namespace tzn
