// TMxPOP3: reads and deletes the letters of one POP3 mailbox. Connecting also logs on;
// deletions take effect only when the connection is closed with QUIT.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mail/message.h"
#include "mail/smtp_base.h"
#include "mail/tcp_client.h"

namespace tzn {

enum class TMxPOP3AuthType { UserPass, APOP, SASL };

class TMxPOP3 : public TMxTCPClient {
public:
    TMxPOP3();
    ~TMxPOP3() override;

    std::string Username;
    std::string Password;
    bool AutoLogin = true;
    TMxPOP3AuthType AuthType = TMxPOP3AuthType::UserPass;
    TMxSASLEntries SASLMechanisms;

    // From the greeting: "<...>" of its first line, empty when there is none.
    const std::string& APOPTimestamp() const { return FTimestamp; }
    bool HasAPOPTimestamp() const { return !FTimestamp.empty(); }
    // The lines of the CAPA answer; empty when the server refused CAPA.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    bool HasCapabilities() const { return !FCapabilities.empty(); }
    bool HasCapability(const std::string& keyword) const; // a whole line, case-insensitive

    // Connects, reads the "+OK" greeting and the capabilities, with UseTLS asking for it
    // STLS and the capabilities again over TLS, and logs on when AutoLogin.
    // Any failure after the socket opened closes the connection (QUIT when possible) before
    // the error reaches the caller.
    void ConnectToServer() override;
    // USER/PASS (or APOP); a failure closes the connection with QUIT, then raises.
    void LogOn();

    // STAT: the number of letters in the mailbox.
    int MessageCount();
    // LIST n: the size of letter n in bytes; -1 when the answer holds no number.
    int64_t MessageSize(int n);
    // TOP n 0: clears `msg` and fills its header fields. True unless an error is raised.
    bool FetchHeader(int n, TMxMessage& msg);
    // RETR n: clears `msg` and reads the whole letter, attachments decoded into temporary
    // files as they arrive. False (nothing raised) when the server refuses.
    bool FetchMessage(int n, TMxMessage& msg);
    // DELE n: marks letter n deleted; a refusal raises EMxReplyPOP3Error.
    bool DeleteMessage(int n);
    // UIDL: the unique id of every letter by its number. False (nothing raised) when the
    // server does not offer the command.
    bool UniqueIds(std::map<int, std::string>& ids);

protected:
    void DisconnectNotifyPeer() override; // QUIT expecting "+OK"

private:
    void ReadCapabilities();
    // Reads a multi-line answer into `msg` with `read`, keeping the connection in step when
    // reading fails half-way.
    template <typename Fn> void ReadAnswerInto(Fn&& read);

    std::string FTimestamp;
    std::vector<std::string> FCapabilities;
};

// The lower-case hexadecimal MD5 digest APOP sends: of timestamp + password.
std::string ApopDigest(const std::string& timestamp, const std::string& password);
// The APOP timestamp in a greeting line: from the first "<" through the next ">".
std::string ApopTimestampOf(const std::string& greeting);

} // namespace tzn
