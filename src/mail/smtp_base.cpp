#include "mail/smtp_base.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "mail/exceptions.h"
#include "mail/io_handler_socket.h"
#include "mail/message_writer.h"
#include "mail/protocol_guard.h"
#include "mail/reply_smtp.h"
#include "mail/smtp_data_sink.h"
#include "platform/cp1251.h"

namespace tzn {

namespace {

std::string LocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace

std::string SmtpMailFromCommand(const std::string& address) {
    return "MAIL FROM: <" + address + ">";
}

std::string SmtpRcptToCommand(const std::string& address) {
    return "RCPT TO:<" + address + ">";
}

TMxSMTPBase::TMxSMTPBase() : TMxTCPClient(std::make_unique<TMxReplySMTP>()) {
    Port = 25;
}

TMxSMTPBase::~TMxSMTPBase() = default;

bool TMxSMTPBase::HasCapability(const std::string& keyword) const {
    for (const std::string& line : FCapabilities)
        if (AnsiSameText(line, keyword))
            return true;
    return false;
}

std::string TMxSMTPBase::EffectiveHeloName() const {
    return HeloName.empty() ? LocalHostName() : HeloName;
}

void TMxSMTPBase::ConnectToServer() {
    TMxTCPClient::ConnectToServer();
    // A new connection needs its own log-in, also when the server dropped the last one
    // without a CloseConnection of ours.
    FDidAuthenticate = false;
    try {
        // Writes are gathered here already (commands of a pipelined envelope, the letter in
        // large pieces); holding back the small last piece until the peer acknowledges the
        // one before would only add a delay to every letter.
        if (auto* stack = dynamic_cast<TMxIOHandlerStack*>(IOHandler());
            stack && stack->Socket() >= 0) {
            int one = 1;
            ::setsockopt(stack->Socket(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        ReadReply({220});
        Hello();
        if (WantsStartTLS(HasCapability("STARTTLS"), "STARTTLS")) {
            Transact("STARTTLS", {220});
            StartTLS();
            // What the server said before the handshake is not to be trusted (RFC 3207).
            Hello();
        }
    } catch (...) {
        try {
            CloseConnection();
        } catch (...) {
            // The greeting's failure is the one worth reporting.
        }
        throw;
    }
}

void TMxSMTPBase::Hello() {
    FCapabilities.clear();
    const std::string name = EffectiveHeloName();
    if (UseEhlo && Transact("EHLO " + name) == 250) {
        const auto& text = LastReply().Text;
        CheckCapabilityCount(text.empty() ? 0 : text.size() - 1);
        if (text.size() > 1)
            FCapabilities.assign(text.begin() + 1, text.end());
        return;
    }
    Transact("HELO " + name, {250});
}

void TMxSMTPBase::CloseConnection(bool notifyPeer) {
    FDidAuthenticate = false;
    TMxTCPClient::CloseConnection(notifyPeer);
}

void TMxSMTPBase::DisconnectNotifyPeer() {
    Transact("QUIT", {221});
}

void TMxSMTPBase::ResetQuietly() {
    try {
        Transact("RSET");
    } catch (const EMxException&) {
        // The refusal that made us reset is what the caller must see.
    }
}

void TMxSMTPBase::SendEnvelopeAndData(TMxMessage& msg, const TMxEMailAddressList& recipients) {
    // A letter with one bad address is refused whole, before its first command: half an
    // envelope on the wire would leave the pipelined replies out of step.
    CheckCommandLine(SmtpMailFromCommand(msg.From().Address));
    for (const TMxEMailAddressItem& rcpt : recipients)
        CheckCommandLine(SmtpRcptToCommand(rcpt.Address));
    if (PipeLine && HasCapability("PIPELINING"))
        SendPipelined(msg, recipients);
    else
        SendPlain(msg, recipients);
}

void TMxSMTPBase::SendPlain(TMxMessage& msg, const TMxEMailAddressList& recipients) {
    Transact("RSET");
    Transact(SmtpMailFromCommand(msg.From().Address), {250});
    try {
        size_t failed = 0;
        for (const TMxEMailAddressItem& rcpt : recipients) {
            const int code = Transact(SmtpRcptToCommand(rcpt.Address)).Number();
            if (code == 250 || code == 251)
                continue;
            ++failed;
            if (!OnFailedRecipient || !OnFailedRecipient(rcpt, LastReply()))
                RaiseLastReplyError();
        }
        if (failed > 0 && failed == recipients.Count())
            RaiseLastReplyError();
        Transact("DATA", {354});
        WriteMessageData(msg);
        ReadReply({250});
    } catch (const EMxSMTPReplyError&) {
        ResetQuietly();
        throw;
    }
}

void TMxSMTPBase::SendPipelined(TMxMessage& msg, const TMxEMailAddressList& recipients) {
    TMxIOHandler& io = RequireHandler();
    io.BufferWrites();
    try {
        io.WriteLine("RSET");
        io.WriteLine(SmtpMailFromCommand(msg.From().Address));
        for (const TMxEMailAddressItem& rcpt : recipients)
            io.WriteLine(SmtpRcptToCommand(rcpt.Address));
        io.WriteLine("DATA");
    } catch (...) {
        try {
            io.FlushWrites();
        } catch (...) {
            // The first failure is the one to report; the flush only tries to be tidy.
        }
        throw;
    }
    io.FlushWrites();

    // Every queued reply is read, whatever happens, so the exchange stays in step; only the
    // first refusal is kept.
    std::unique_ptr<TMxReply> failure;
    auto remember = [&] {
        if (!failure)
            failure = LastReply().Clone();
    };
    if (ReadReply() != 250)
        remember();
    if (ReadReply() != 250)
        remember();
    size_t failed = 0;
    for (const TMxEMailAddressItem& rcpt : recipients) {
        const int code = ReadReply().Number();
        if (code == 250 || code == 251)
            continue;
        ++failed;
        if (!OnFailedRecipient || !OnFailedRecipient(rcpt, LastReply()))
            remember();
        else if (failed == recipients.Count())
            remember();
    }
    if (ReadReply() == 354) {
        if (failure) {
            // Some recipients were accepted, so the server would deliver the letter to them
            // while the caller is told it failed and keeps it for another run: a copy on
            // every run. Ending the connection inside the data phase makes the server drop
            // the transaction, and nothing is delivered, as in the plain exchange.
            try {
                CloseConnection(false);
            } catch (...) {
                // The refusal is the error to report; a failing close adds nothing.
            }
            failure->RaiseReplyError();
        }
        WriteMessageData(msg);
        if (ReadReply() != 250)
            remember();
    } else {
        remember();
    }
    if (failure) {
        ResetQuietly();
        failure->RaiseReplyError();
    }
}

void TMxSMTPBase::WriteMessageData(TMxMessage& msg) {
    TMxIOHandler& io = RequireHandler();
    try {
        // One transfer for the progress gauge, counted by the socket's writes; the sink's
        // own line-by-line reports go nowhere.
        TMxWorkScope work(*this, TMxWorkMode::Write);
        TMxSMTPDataSink sink(io, FDataPending);
        TMxWriteOptions wire = WriteOptions;
        wire.WriteBcc = wire.HeadersOnly = false;
        TransmitMessage(sink, msg, wire);
        // The end-of-data line travels with the last piece of the letter.
        sink.WriteLine(".");
        sink.Flush();
    } catch (...) {
        try {
            CloseConnection(false);
        } catch (...) {
            // The transfer's failure is the one to report; a failing close adds nothing.
        }
        throw;
    }
}

} // namespace tzn
