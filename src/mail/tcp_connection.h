// A line-oriented connection and its command exchange: write a command, read one reply
// into LastReply, check its code. The protocol clients (SMTP, POP3) derive from the client
// in tcp_client.h and supply their reply class and their farewell.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mail/component.h"
#include "mail/io_handler.h"
#include "mail/reply.h"

namespace tzn {

// What Transact / ReadReply return: the reply code, comparable with a number (SMTP) or a
// text (POP3).
struct TMxReplyCode {
    std::string Text;
    int Number() const; // 0 when not numeric
    bool operator==(int code) const { return Number() == code; }
    bool operator==(std::string_view code) const { return Text == code; }
    bool operator==(const char* code) const { return Text == code; }
};

class TMxTCPConnection : public TMxComponent {
public:
    // `replyPrototype` fixes the reply class (TMxReplySMTP, TMxReplyPOP3 ...).
    explicit TMxTCPConnection(std::unique_ptr<TMxReply> replyPrototype);
    ~TMxTCPConnection() override;

    // The handler doing the line I/O. With `owned` the connection frees it. Setting one
    // makes its work events go to this connection.
    TMxIOHandler* IOHandler() const { return FIOHandler; }
    void SetIOHandler(TMxIOHandler* handler, bool owned = false);

    TMxReply& LastReply() { return *FLastReply; }
    const TMxReply& LastReply() const { return *FLastReply; }

    // Polls the socket with a zero time-out, then: open or unread input left.
    virtual bool IsConnected();
    // With notifyPeer and a live connection runs the farewell; then, whether or not it
    // failed, closes the socket (status "Disconnecting." / "Disconnected."). A failed
    // farewell still reaches the caller after the close.
    virtual void CloseConnection(bool notifyPeer = true);

    // WriteLine(command) then ReadReply(allowed). EMxNotConnected before the first connect.
    // A command holding CR, LF or NUL raises EMxInvalidCommandArgument and is not written.
    TMxReplyCode Transact(std::string_view command, const TMxReplyCodes& allowed = {});
    // Reads one complete reply into LastReply (blank lines before it skipped) and raises
    // the reply error when the code is not allowed. A reply of more than kMxMaxReplyLines
    // lines closes the connection and raises EMxReplyTooLong.
    TMxReplyCode ReadReply(const TMxReplyCodes& allowed = {});
    [[noreturn]] void RaiseLastReplyError() const;

    // Shortcuts to the handler (EMxNotConnected without one); WriteLine checks its line as
    // Transact does.
    void WriteLine(std::string_view s = {});
    std::string ReadLine(std::string_view terminator = {});

protected:
    // The protocol's farewell ("QUIT"); nothing by default.
    virtual void DisconnectNotifyPeer() {}
    TMxIOHandler& RequireHandler() const; // EMxNotConnected when none
    bool OwnsIOHandler() const { return FOwnsHandler; }
    void ReleaseIOHandler(); // frees an owned handler and forgets it

private:
    TMxIOHandler* FIOHandler = nullptr;
    bool FOwnsHandler = false;
    std::unique_ptr<TMxReply> FLastReply;
};

} // namespace tzn
