// The letter text between SMTP "DATA" and ".": the message writer produces it line by line
// and in encoded blocks, this handler gathers the lines into large pieces for the socket, so
// a letter goes out in few writes and is never held whole in memory.
#pragma once

#include <string>

#include "mail/io_handler.h"

namespace tzn {

class TMxSMTPDataSink : public TMxIOHandler {
public:
    static constexpr size_t kDefaultChunkSize = 64 * 1024;

    // `target` is the connection's handler; `pending` holds what is gathered between writes
    // (emptied here). Both must outlive the sink. A client passes the same `pending` for
    // every letter: a buffer allocated and released per letter costs more in page faults
    // and heap trimming than the copying it serves.
    TMxSMTPDataSink(TMxIOHandler& target, std::string& pending,
                    size_t chunkSize = kDefaultChunkSize);

    bool Connected() const override { return FTarget.Connected(); }
    // Hands what has been gathered to the connection's handler.
    void Flush();

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override; // raises: write only
    size_t SendSome(const char* data, size_t size) override;
    void CloseSource() override {}

private:
    TMxIOHandler& FTarget;
    std::string& FPending;
    size_t FChunkSize;
};

} // namespace tzn
