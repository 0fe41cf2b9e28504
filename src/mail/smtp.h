// TMxSMTP: delivers letters to one mail server. Authentication happens once per connection
// at the first letter; each SendMail delivers one letter to its To, Cc and Bcc recipients.
#pragma once

#include <string>
#include <vector>

#include "mail/message.h"
#include "mail/smtp_base.h"

namespace tzn {

class TMxSMTP : public TMxSMTPBase {
public:
    TMxSMTP() = default;

    // With Username set (AuthType Default) the server's first mechanism of LOGIN, PLAIN,
    // CRAM-MD5; nothing sent when it offers no AUTH at all, an EMxException when it offers
    // only others. With AuthType None the connection counts as authenticated; with SASL
    // the configured mechanisms are tried (EMxSASLMechNeeded when there are none). Runs once
    // per connection; a refused step raises EMxSMTPReplyError. Returns DidAuthenticate().
    bool Authenticate();
    // The mechanisms named by the capability lines "AUTH ..." / "AUTH=...", upper-cased,
    // without duplicates.
    std::vector<std::string> AuthMechanisms() const;

    // Authenticates if needed, sets "X-Mailer" from MailAgent and delivers `msg` to its
    // recipients (To, then Cc, then Bcc). Raises on failure: EMxSMTPReplyError for a refusal
    // (after RSET), transport errors as they come.
    void SendMail(TMxMessage& msg);

    // "EXPN name" / "VRFY name", accepting 250 or 251; the reply's text lines.
    std::vector<std::string> Expand(const std::string& name);
    std::vector<std::string> Verify(const std::string& name);

private:
    void LoginWithMechanism(const std::string& mechanism);
};

// The mechanism a default log-in takes from the server's list; empty when none is usable.
std::string DefaultMechanism(const std::vector<std::string>& offered);

// The recipient list of a letter: the combined text of To, Cc and Bcc parsed back into one
// list, in that order.
TMxEMailAddressList SmtpRecipients(const TMxMessage& msg);

} // namespace tzn
