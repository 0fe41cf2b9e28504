#include "mail/smtp.h"

#include <algorithm>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "mail/smtp_sasl.h"
#include "platform/cp1251.h"

namespace tzn {

TMxEMailAddressList SmtpRecipients(const TMxMessage& msg) {
    std::string text = msg.Recipients.EMailAddresses();
    if (!msg.CCList.Empty())
        text += ", " + msg.CCList.EMailAddresses();
    if (!msg.BccList.Empty())
        text += ", " + msg.BccList.EMailAddresses();
    TMxEMailAddressList list;
    list.SetEMailAddresses(text);
    return list;
}

std::vector<std::string> TMxSMTP::AuthMechanisms() const {
    std::vector<std::string> result;
    for (const std::string& line : FCapabilities) {
        if (line.size() < 5 || !AnsiSameText(line.substr(0, 4), "AUTH") ||
            (line[4] != ' ' && line[4] != '='))
            continue;
        std::string word;
        auto flush = [&] {
            if (word.empty())
                return;
            word = AnsiUpperCase(word);
            if (std::find(result.begin(), result.end(), word) == result.end())
                result.push_back(word);
            word.clear();
        };
        for (size_t i = 5; i < line.size(); ++i) {
            if (line[i] == ' ' || line[i] == '=')
                flush();
            else
                word += line[i];
        }
        flush();
    }
    return result;
}

std::string DefaultMechanism(const std::vector<std::string>& offered) {
    // LOGIN first, as this system always used; PLAIN sends the same secrets in one step;
    // CRAM-MD5 where it is all the server takes.
    for (const char* mech : {"LOGIN", "PLAIN", "CRAM-MD5"})
        if (std::find(offered.begin(), offered.end(), mech) != offered.end())
            return mech;
    return {};
}

namespace {

std::string JoinedMechanisms(const std::vector<std::string>& mechs) {
    std::string s;
    for (const std::string& m : mechs)
        s += (s.empty() ? "" : " ") + m;
    return s;
}

} // namespace

bool TMxSMTP::Authenticate() {
    if (FDidAuthenticate)
        return true;
    switch (AuthType) {
    case TMxSMTPAuthType::None:
        FDidAuthenticate = true;
        break;
    case TMxSMTPAuthType::Default: {
        if (Username.empty())
            break;
        const auto offered = AuthMechanisms();
        // A server that asks for no log-in (a relay trusting its network) gets none.
        if (offered.empty())
            break;
        const std::string mech = DefaultMechanism(offered);
        if (mech.empty())
            throw EMxException("No log-in method in common with the server (it offers " +
                               JoinedMechanisms(offered) +
                               "; this client runs LOGIN, PLAIN, "
                               "CRAM-MD5)");
        LoginWithMechanism(mech);
        FDidAuthenticate = true;
        break;
    }
    case TMxSMTPAuthType::SASL: {
        if (SASLMechanisms.empty())
            throw EMxSASLMechNeeded();
        const auto offered = AuthMechanisms();
        for (const std::string& wanted : SASLMechanisms) {
            const std::string mech = AnsiUpperCase(wanted);
            if (!SmtpSaslSupported(mech) ||
                std::find(offered.begin(), offered.end(), mech) == offered.end())
                continue;
            LoginWithMechanism(mech);
            FDidAuthenticate = true;
            break;
        }
        break;
    }
    }
    return FDidAuthenticate;
}

void TMxSMTP::LoginWithMechanism(const std::string& mechanism) {
    if (mechanism == "LOGIN") {
        Transact("AUTH LOGIN", {334});
        Transact(SaslBase64(Username), {334});
        Transact(SaslBase64(Password), {235});
    } else if (mechanism == "PLAIN") {
        Transact("AUTH PLAIN " + SaslBase64(SaslPlainResponse(Username, Password)), {235});
    } else if (mechanism == "CRAM-MD5") {
        Transact("AUTH CRAM-MD5", {334});
        const std::string challenge =
            DecodeBase64(LastReply().Text.empty() ? std::string() : LastReply().Text.front());
        Transact(SaslBase64(SaslCramMd5Response(Username, Password, challenge)), {235});
    }
}

void TMxSMTP::SendMail(TMxMessage& msg) {
    Authenticate();
    msg.ExtraHeaders.SetValue("X-Mailer", MailAgent);
    const TMxEMailAddressList recipients = SmtpRecipients(msg);
    SendEnvelopeAndData(msg, recipients);
}

std::vector<std::string> TMxSMTP::Expand(const std::string& name) {
    Transact("EXPN " + name, {250, 251});
    return LastReply().Text;
}

std::vector<std::string> TMxSMTP::Verify(const std::string& name) {
    Transact("VRFY " + name, {250, 251});
    return LastReply().Text;
}

} // namespace tzn
