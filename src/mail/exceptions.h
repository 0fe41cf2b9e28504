// Exceptions of the mail protocol layer. Every failure of the layer is an EMxException, so
// callers catch the common base and show its message. Messages are CP1251 text.
#pragma once

#include <stdexcept>
#include <string>

#include "mail/smtp_enhanced_code.h"

namespace tzn {

class EMxException : public std::runtime_error {
public:
    explicit EMxException(const std::string& message) : std::runtime_error(message) {}
};

// Ends an operation without being an error worth showing; still thrown to the caller.
class EMxSilentException : public EMxException {
public:
    using EMxException::EMxException;
};

// ---- connection --------------------------------------------------------------------------

class EMxConnClosedGracefully : public EMxSilentException {
public:
    EMxConnClosedGracefully() : EMxSilentException("Connection Closed Gracefully.") {}
};

class EMxAlreadyConnected : public EMxException {
public:
    EMxAlreadyConnected() : EMxException("Already connected.") {}
};

class EMxHostRequired : public EMxException {
public:
    EMxHostRequired() : EMxException("") {}
};

class EMxPortRequired : public EMxException {
public:
    EMxPortRequired() : EMxException("") {}
};

class EMxConnectTimeout : public EMxException {
public:
    EMxConnectTimeout() : EMxException("Connect timed out.") {}
};

class EMxNotConnected : public EMxException {
public:
    EMxNotConnected() : EMxException("Not connected.") {}
};

// A failing socket call. The number and text are those of the original system's socket
// library (10061 "Connection refused." ...), mapped from errno / resolver codes.
class EMxSocketError : public EMxException {
public:
    EMxSocketError(int lastError, const std::string& text);
    int LastError() const { return FLastError; }

private:
    int FLastError;
};

// A TLS connection could not be set up or broke down (refused certificate, a required
// STARTTLS the server does not offer, clear text injected before the handshake ...). The
// message names the reason; nothing is ever sent in clear text after such a failure.
class EMxTLSError : public EMxException {
public:
    using EMxException::EMxException;
};

// ---- line I/O ----------------------------------------------------------------------------

class EMxReadTimeout : public EMxException {
public:
    EMxReadTimeout() : EMxException("Read Timeout") {}
};

class EMxReadLnMaxLineLengthExceeded : public EMxException {
public:
    EMxReadLnMaxLineLengthExceeded() : EMxException("Max line length exceeded.") {}
};

class EMxNoDataToRead : public EMxException {
public:
    EMxNoDataToRead() : EMxException("No data to read.") {}
};

// ---- replies -----------------------------------------------------------------------------

// A numeric reply whose code was not allowed; the message is the reply text.
class EMxReplyRFCError : public EMxException {
public:
    EMxReplyRFCError(int errorCode, const std::string& message)
        : EMxException(message), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

class EMxSMTPReplyError : public EMxReplyRFCError {
public:
    EMxSMTPReplyError(int errorCode, const TMxSMTPEnhancedCode& enhanced,
                      const std::string& message)
        : EMxReplyRFCError(errorCode, message), FEnhancedCode(enhanced) {}
    const TMxSMTPEnhancedCode& EnhancedCode() const { return FEnhancedCode; }

private:
    TMxSMTPEnhancedCode FEnhancedCode;
};

// A POP3 reply whose code was not allowed; carries the code ("-ERR") and the bracketed
// response code ("[IN-USE]") when the server sent one.
class EMxReplyPOP3Error : public EMxException {
public:
    EMxReplyPOP3Error(const std::string& code, const std::string& enhancedCode,
                      const std::string& message)
        : EMxException(message), FCode(code), FEnhancedCode(enhancedCode) {}
    const std::string& ReplyCode() const { return FCode; }
    const std::string& EnhancedCode() const { return FEnhancedCode; }

private:
    std::string FCode;
    std::string FEnhancedCode;
};

class EMxPOP3ReplyInvalidEnhancedCode : public EMxException {
public:
    explicit EMxPOP3ReplyInvalidEnhancedCode(const std::string& code)
        : EMxException("Invalid Enhanced Code: " + code) {}
};

// ---- protocol guards (protocol_guard.h) --------------------------------------------------

// A command whose argument holds CR, LF or NUL; nothing of it was sent.
class EMxInvalidCommandArgument : public EMxException {
public:
    explicit EMxInvalidCommandArgument(const std::string& command)
        : EMxException("Command " + command +
                       " not sent: its argument holds a line break or NUL character.") {}
};

class EMxReplyTooLong : public EMxException {
public:
    explicit EMxReplyTooLong(size_t maxLines)
        : EMxException("Reply has more than " + std::to_string(maxLines) + " lines.") {}
};

class EMxTooManyCapabilities : public EMxException {
public:
    explicit EMxTooManyCapabilities(size_t maxEntries)
        : EMxException("Capability list has more than " + std::to_string(maxEntries) +
                       " entries.") {}
};

// ---- used by the protocol clients and the message layer ----------------------------------

class EMxSASLMechNeeded : public EMxException {
public:
    EMxSASLMechNeeded() : EMxException("Need SASL mechanisms to login with it!!") {}
};

class EMxDoesNotSupportAPOP : public EMxException {
public:
    EMxDoesNotSupportAPOP() : EMxException("Server do not support APOP (no timestamp)") {}
};

class EMxMessageCannotLoad : public EMxException {
public:
    using EMxException::EMxException;
};

class EMxEmailParseError : public EMxException {
public:
    using EMxException::EMxException;
};

class EMxCanNotCreateMessagePart : public EMxException {
public:
    EMxCanNotCreateMessagePart()
        : EMxException("TMxMessagePart can not be created.  Use descendant classes. ") {}
};

} // namespace tzn
