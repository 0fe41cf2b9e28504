#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fuzz/mail_targets.h"
#include "mail/exceptions.h"
#include "mail/io_handler.h"
#include "mail/pop3.h"
#include "mail/reply_pop3.h"
#include "mail/reply_smtp.h"
#include "mail/smtp_enhanced_code.h"
#include "mail/tcp_connection.h"

namespace tzn::fuzz {

namespace {

// Reads replies from `in` as a connection does until the server's text runs out.
void ReadAllReplies(std::istream& in, std::unique_ptr<TMxReply> prototype) {
    std::ostringstream sent;
    TMxIOHandlerStream server(&in, &sent);
    server.Open();
    TMxTCPConnection connection(std::move(prototype));
    connection.SetIOHandler(&server);
    for (int i = 0; i < 1000; ++i) {
        try {
            (void)connection.ReadReply();
            (void)connection.LastReply().NumericCode();
            connection.RaiseLastReplyError();
        } catch (const EMxConnClosedGracefully&) {
            break;
        } catch (const EMxException&) {
            if (!server.CheckConnected())
                break;
        }
    }
    connection.SetIOHandler(nullptr);
}

// The POP3 client's own reading of listing answers (STAT, LIST, UIDL) and of the header
// pass's multi-line answers.
void RunPop3Listings(std::istream& in) {
    std::ostringstream sent;
    TMxIOHandlerStream server(&in, &sent);
    server.Open();
    TMxPOP3 client;
    client.SetIOHandler(&server);
    try {
        (void)client.MessageCount();
        (void)client.MessageSize(1);
        std::map<int, std::string> ids;
        (void)client.UniqueIds(ids);
        std::map<int, int64_t> sizes;
        (void)client.MessageSizes(sizes);
        // The header pass: multi-line answers, one after another.
        client.FetchHeaders({3, 2, 1}, [](int, TMxMessage&, const std::exception*) {});
    } catch (const std::runtime_error&) {
        // A mail-layer error, or the conversion error of a STAT count that is no number.
    }
    client.SetIOHandler(nullptr);
}

} // namespace

void FuzzReplies(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::istringstream in(text);
    switch (data[0] % 3) {
    case 0:
        ReadAllReplies(in, std::make_unique<TMxReplySMTP>());
        break;
    case 1:
        ReadAllReplies(in, std::make_unique<TMxReplyPOP3>());
        break;
    default:
        RunPop3Listings(in);
        break;
    }
    TMxSMTPEnhancedCode code;
    code.SetReplyAsStr(text);
    (void)code.ReplyAsStr();
    (void)TMxReplyPOP3::IsValidEnhancedCode(text);
}

} // namespace tzn::fuzz
