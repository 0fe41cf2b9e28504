// One multi-line POP3 answer (the lines after "+OK" up to the line ".") as a byte source of
// its own. The message reader reads a letter from it as from a file: it can never read past
// the end of the answer, and after a failure in the middle of a letter the rest of the
// answer can be skipped, so the next command and its reply stay in step.
#pragma once

#include <string>

#include "mail/io_handler.h"
#include "mail/message_limits.h"

namespace tzn {

class TMxPOP3ResponseReader : public TMxIOHandler {
public:
    // `source` is the connection's handler, positioned after the "+OK" line.
    explicit TMxPOP3ResponseReader(TMxIOHandler& source);

    bool Connected() const override { return !FEnded || FPendingPos < FPending.size(); }
    // The terminating "." line has been taken from the connection.
    bool TerminatorTaken() const { return FEnded; }
    // Reads and drops the connection's lines up to and including the terminating ".".
    // An answer going on past `maxBytes` raises EMxLimitExceeded: the caller must then end
    // the connection, which is out of step.
    void SkipRest(size_t maxBytes = kMxMaxSkippedAnswerBytes);

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override;
    size_t SendSome(const char* data, size_t size) override; // raises: read only
    void CloseSource() override {}

private:
    TMxIOHandler& FSource;
    std::string FPending; // a line that did not fit into the caller's buffer
    size_t FPendingPos = 0;
    bool FEnded = false;
};

} // namespace tzn
