// A stream I/O handler for stored-message files: when the stream runs dry it supplies the
// end-of-message line once, so a file that lacks its final "." (or even its last line break)
// still reads completely.
#pragma once

#include <string>

#include "mail/io_handler.h"

namespace tzn {

class TMxIOHandlerStreamMsg : public TMxIOHandlerStream {
public:
    explicit TMxIOHandlerStreamMsg(std::istream* in, std::ostream* out = nullptr)
        : TMxIOHandlerStream(in, out) {}

protected:
    int RecvBytes(char* buffer, int size, int timeoutMs) override;

private:
    char FLastByte = 0;
    bool FHaveLastByte = false;
    bool FTerminatorSent = false;
    std::string FPending; // the end-of-message line not yet delivered
};

} // namespace tzn
