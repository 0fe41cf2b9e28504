// The SMTP client's base: greeting (EHLO with capabilities, HELO fallback), the envelope and
// data exchange for one letter (plain or pipelined) and the farewell. Authentication and the
// letter-level entry point are in smtp.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mail/email_address.h"
#include "mail/message.h"
#include "mail/message_writer.h"
#include "mail/tcp_client.h"

namespace tzn {

enum class TMxSMTPAuthType { None, Default, SASL };

// SASL mechanism names to try, in order ("PLAIN", "LOGIN"); the system configures none.
using TMxSASLEntries = std::vector<std::string>;

// Decides whether a letter still goes out after `recipient` was refused (`reply` is the
// refusal). Unassigned: a refused recipient fails the letter.
using TMxFailedRecipientEvent =
    std::function<bool(const TMxEMailAddressItem& recipient, const TMxReply& reply)>;

class TMxSMTPBase : public TMxTCPClient {
public:
    TMxSMTPBase();
    ~TMxSMTPBase() override;

    std::string Username;
    std::string Password;
    TMxSMTPAuthType AuthType = TMxSMTPAuthType::Default;
    bool UseEhlo = true;
    bool PipeLine = true;
    std::string HeloName;  // empty: the local host name
    std::string MailAgent; // "X-Mailer"; empty: no such header
    TMxSASLEntries SASLMechanisms;
    TMxFailedRecipientEvent OnFailedRecipient;
    TMxWriteOptions WriteOptions; // how letters are written; never Bcc, always whole

    // The EHLO reply's lines after the first: the server's extensions ("PIPELINING",
    // "AUTH PLAIN LOGIN" ...). Empty after HELO.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    bool HasCapability(const std::string& keyword) const; // a whole line, case-insensitive
    bool DidAuthenticate() const { return FDidAuthenticate; }

    // TCP connect, then the 220 greeting and EHLO/HELO; with UseTLS asking for it, STARTTLS
    // and EHLO again over TLS (the capabilities read anew). Any failure after the socket
    // opened closes the connection (with QUIT when it can) before the error reaches the
    // caller.
    void ConnectToServer() override;
    // QUIT expecting 221, then close; the authenticated state ends with the connection.
    void CloseConnection(bool notifyPeer = true) override;

    // The name sent with EHLO/HELO: HeloName, else the machine's host name.
    std::string EffectiveHeloName() const;

protected:
    void DisconnectNotifyPeer() override;
    // EHLO (or HELO) into the capability list.
    void Hello();

    // Envelope and data for `msg` to `recipients`, pipelined when allowed and offered.
    void SendEnvelopeAndData(TMxMessage& msg, const TMxEMailAddressList& recipients);
    void SendPlain(TMxMessage& msg, const TMxEMailAddressList& recipients);
    void SendPipelined(TMxMessage& msg, const TMxEMailAddressList& recipients);
    // Streams the letter after "DATA", then the final "." line (the caller reads its reply).
    // The socket sees large writes; the letter is never held whole in memory. A failure
    // while the server is in data mode leaves the connection unusable (anything sent next
    // would become part of the letter), so the socket is closed before the error goes on.
    void WriteMessageData(TMxMessage& msg);
    // RSET after a refusal; its own failure must not hide the refusal.
    void ResetQuietly();

    std::vector<std::string> FCapabilities;
    bool FDidAuthenticate = false;

private:
    // The letter text gathered between socket writes, kept from letter to letter.
    std::string FDataPending;
};

// "MAIL FROM: <address>" and "RCPT TO:<address>" as this client writes them.
std::string SmtpMailFromCommand(const std::string& address);
std::string SmtpRcptToCommand(const std::string& address);

} // namespace tzn
