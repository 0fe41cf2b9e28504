// The letter text between SMTP "DATA" and ".": the message writer produces it line by line,
// this handler gathers the lines into large pieces for the socket, so a letter goes out in
// few writes and is never held whole in memory.
#pragma once

#include <string>

#include "mail/io_handler.h"

namespace tzn {

class TMxSMTPDataSink : public TMxIOHandler {
public:
    static constexpr size_t kDefaultChunkSize = 64 * 1024;

    // `target` is the connection's handler; it must outlive the sink.
    explicit TMxSMTPDataSink(TMxIOHandler& target, size_t chunkSize = kDefaultChunkSize);

    bool Connected() const override { return FTarget.Connected(); }
    // Hands what has been gathered to the connection's handler.
    void Flush();

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override; // raises: write only
    size_t SendSome(const char* data, size_t size) override;
    void CloseSource() override {}

private:
    TMxIOHandler& FTarget;
    size_t FChunkSize;
    std::string FPending;
};

} // namespace tzn
