#include "mail/smtp_data_sink.h"

#include "mail/exceptions.h"

namespace tzn {

TMxSMTPDataSink::TMxSMTPDataSink(TMxIOHandler& target, std::string& pending, size_t chunkSize)
    : FTarget(target), FPending(pending), FChunkSize(chunkSize ? chunkSize : kDefaultChunkSize) {
    FPending.clear();
    FPending.reserve(FChunkSize);
    MarkOpened();
}

void TMxSMTPDataSink::Flush() {
    if (FPending.empty())
        return;
    FTarget.WriteText(FPending);
    FPending.clear();
}

int TMxSMTPDataSink::RecvBytes(char*, int, int) {
    throw EMxException("Not Connected");
}

size_t TMxSMTPDataSink::SendSome(const char* data, size_t size) {
    if (FPending.size() + size < FChunkSize) {
        FPending.append(data, size);
        return size;
    }
    // Enough for one write: the piece goes out behind what was gathered before it, without
    // being copied (an encoded attachment arrives in blocks larger than the buffer).
    FTarget.WriteGathered(FPending, std::string_view(data, size));
    FPending.clear();
    return size;
}

} // namespace tzn
