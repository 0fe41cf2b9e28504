#include "mail/pop3_response_reader.h"

#include <cstring>

#include "mail/exceptions.h"
#include "mail/message_limits.h"

namespace tzn {

TMxPOP3ResponseReader::TMxPOP3ResponseReader(TMxIOHandler& source) : FSource(source) {
    MaxLineLength = source.MaxLineLength;
    MaxLineAction = source.MaxLineAction;
    MarkOpened();
}

int TMxPOP3ResponseReader::RecvBytes(char* buffer, int size, int) {
    size_t n = 0;
    const size_t room = static_cast<size_t>(size);
    while (n < room) {
        if (FPendingPos < FPending.size()) {
            const size_t k = std::min(room - n, FPending.size() - FPendingPos);
            std::memcpy(buffer + n, FPending.data() + FPendingPos, k);
            n += k;
            FPendingPos += k;
            continue;
        }
        if (FEnded)
            break;
        // A letter's body lines may be long; the reader above bounds them again.
        std::string_view line;
        if (!FSource.TryReadLineView(line, kMxMaxBodyLineLength)) {
            // Hand over what we have rather than wait for a line that has not arrived yet.
            if (n > 0)
                break;
            line = FSource.ReadLineView({}, kMxTimeoutDefault, kMxMaxBodyLineLength);
        }
        if (line == ".")
            FEnded = true;
        if (line.size() + 2 <= room - n) {
            std::memcpy(buffer + n, line.data(), line.size());
            n += line.size();
            buffer[n++] = '\r';
            buffer[n++] = '\n';
        } else {
            FPending.assign(line);
            FPending += "\r\n";
            FPendingPos = 0;
        }
    }
    return static_cast<int>(n);
}

size_t TMxPOP3ResponseReader::SendSome(const char*, size_t) {
    throw EMxException("Not Connected");
}

void TMxPOP3ResponseReader::SkipRest(size_t maxBytes) {
    FPending.clear();
    FPendingPos = 0;
    if (FEnded)
        return;
    const TMxMaxLineAction old = FSource.MaxLineAction;
    FSource.MaxLineAction = TMxMaxLineAction::Split;
    size_t skipped = 0;
    try {
        while (!FEnded) {
            const std::string_view line = FSource.ReadLineView();
            if (line == "." && !FSource.ReadLnSplit()) {
                FEnded = true;
                break;
            }
            skipped += line.size() + 2;
            if (skipped > maxBytes)
                throw EMxLimitExceeded("POP3 answer longer than " + std::to_string(maxBytes) +
                                       " bytes.");
        }
    } catch (...) {
        FSource.MaxLineAction = old;
        throw;
    }
    FSource.MaxLineAction = old;
}

} // namespace tzn
