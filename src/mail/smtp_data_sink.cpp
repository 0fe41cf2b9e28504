#include "mail/smtp_data_sink.h"

#include "mail/exceptions.h"

namespace tzn {

TMxSMTPDataSink::TMxSMTPDataSink(TMxIOHandler& target, size_t chunkSize)
    : FTarget(target), FChunkSize(chunkSize ? chunkSize : kDefaultChunkSize) {
    FPending.reserve(FChunkSize + 1024);
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
    FPending.append(data, size);
    if (FPending.size() >= FChunkSize)
        Flush();
    return size;
}

} // namespace tzn
