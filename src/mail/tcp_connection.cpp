#include "mail/tcp_connection.h"

#include <exception>

#include "mail/exceptions.h"
#include "mail/protocol_guard.h"
#include "mail/reply.h"
#include "platform/text.h"

namespace tzn {

int TMxReplyCode::Number() const {
    int v = 0;
    return ParseDecimal(std::string_view(Text), v) ? v : 0;
}

TMxTCPConnection::TMxTCPConnection(std::unique_ptr<TMxReply> replyPrototype)
    : FLastReply(std::move(replyPrototype)) {
    if (!FLastReply)
        FLastReply = std::make_unique<TMxReplyRFC>();
}

TMxTCPConnection::~TMxTCPConnection() {
    ReleaseIOHandler();
}

void TMxTCPConnection::ReleaseIOHandler() {
    if (FIOHandler && FOwnsHandler)
        delete FIOHandler;
    FIOHandler = nullptr;
    FOwnsHandler = false;
}

void TMxTCPConnection::SetIOHandler(TMxIOHandler* handler, bool owned) {
    if (handler == FIOHandler) {
        FOwnsHandler = owned;
        return;
    }
    ReleaseIOHandler();
    FIOHandler = handler;
    FOwnsHandler = handler && owned;
    if (handler)
        handler->WorkTarget = this;
}

TMxIOHandler& TMxTCPConnection::RequireHandler() const {
    if (!FIOHandler)
        throw EMxNotConnected();
    return *FIOHandler;
}

bool TMxTCPConnection::IsConnected() {
    return FIOHandler && FIOHandler->CheckConnected();
}

void TMxTCPConnection::CloseConnection(bool notifyPeer) {
    std::exception_ptr farewellError;
    if (notifyPeer && FIOHandler && FIOHandler->Connected()) {
        try {
            DisconnectNotifyPeer();
        } catch (...) {
            farewellError = std::current_exception();
        }
    }
    if (FIOHandler && FIOHandler->Connected()) {
        DoStatus(TMxStatus::Disconnecting, "Disconnecting.");
        FIOHandler->Close();
    }
    if (farewellError)
        std::rethrow_exception(farewellError);
}

void TMxTCPConnection::WriteLine(std::string_view s) {
    CheckCommandLine(s);
    RequireHandler().WriteLine(s);
}

std::string TMxTCPConnection::ReadLine(std::string_view terminator) {
    return RequireHandler().ReadLine(terminator);
}

TMxReplyCode TMxTCPConnection::Transact(std::string_view command, const TMxReplyCodes& allowed) {
    CheckCommandLine(command);
    RequireHandler().WriteLine(command);
    return ReadReply(allowed);
}

TMxReplyCode TMxTCPConnection::ReadReply(const TMxReplyCodes& allowed) {
    TMxIOHandler& io = RequireHandler();
    std::vector<std::string> lines;
    lines.push_back(io.ReadNonEmptyLine(2147483647));
    while (!FLastReply->IsEndLine(lines.back())) {
        if (lines.size() >= kMxMaxReplyLines) {
            // The rest of such a reply would be taken for the answers to later commands.
            try {
                CloseConnection(false);
            } catch (...) {
                // The over-long reply is the error to report; a failing close adds nothing.
            }
            throw EMxReplyTooLong(kMxMaxReplyLines);
        }
        lines.push_back(io.ReadLine());
    }
    FLastReply->ParseLines(lines);
    if (!allowed.Accepts(*FLastReply))
        FLastReply->RaiseReplyError();
    return TMxReplyCode{FLastReply->Code()};
}

void TMxTCPConnection::RaiseLastReplyError() const {
    FLastReply->RaiseReplyError();
    __builtin_unreachable();
}

} // namespace tzn
