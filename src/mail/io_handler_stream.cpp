#include <istream>
#include <ostream>

#include "mail/exceptions.h"
#include "mail/io_handler.h"

namespace tzn {

TMxIOHandlerStream::TMxIOHandlerStream(std::istream* in, std::ostream* out)
    : FInStream(in), FOutStream(out) {
    MarkOpened();
}

bool TMxIOHandlerStream::Connected() const {
    return FSourceOpen && (FInStream != nullptr || FOutStream != nullptr);
}

int TMxIOHandlerStream::RecvBytes(char* buffer, int size, int /*timeoutMs*/) {
    if (!FInStream)
        throw EMxException("Not Connected");
    std::streamsize n = FInStream->rdbuf()->sgetn(buffer, size);
    return n > 0 ? static_cast<int>(n) : 0;
}

size_t TMxIOHandlerStream::SendSome(const char* data, size_t size) {
    if (!FOutStream)
        throw EMxException("Not Connected");
    FOutStream->write(data, static_cast<std::streamsize>(size));
    if (!*FOutStream)
        throw EMxException("Error writing to stream.");
    return size;
}

void TMxIOHandlerStream::CloseSource() {
    FSourceOpen = false;
}

} // namespace tzn

namespace tzn {

void TMxIOHandlerStream::Open() {
    TMxIOHandler::Open();
    FSourceOpen = true;
}

} // namespace tzn
