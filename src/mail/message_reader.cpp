#include "mail/message_reader.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "mail/body_reader.h"
#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail/header_params.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/mail_date.h"
#include "mail/message_limits.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/paths.h"

namespace tzn {

namespace {

constexpr size_t kFileBufferSize = 1 << 16;

TMxMessagePriority ParsePriority(const std::string& v) {
    std::string t = Trim(v);
    if (t.empty())
        return TMxMessagePriority::Normal;
    if (t[0] >= '1' && t[0] <= '5')
        return static_cast<TMxMessagePriority>(t[0] - '0');
    std::string low = AnsiLowerCase(t);
    if (low.rfind("non-urgent", 0) == 0 || low.rfind("low", 0) == 0)
        return TMxMessagePriority::Low;
    if (low.rfind("urgent", 0) == 0 || low.rfind("high", 0) == 0)
        return TMxMessagePriority::High;
    return TMxMessagePriority::Normal;
}

// An address header that will not parse still loads: the letter keeps the text whole.
void ParseAddressList(TMxEMailAddressList& list, const std::string& raw) {
    try {
        list.SetEMailAddresses(raw);
    } catch (const EMxEmailParseError&) {
        list.Clear();
        list.Add().Address = Trim(raw);
    }
    for (size_t i = 0; i < list.Count(); ++i)
        list[i].Name = DecodeHeader(list[i].Name);
}

void ParseAddressItem(TMxEMailAddressItem& item, const std::string& raw) {
    try {
        item.SetText(raw);
    } catch (const EMxEmailParseError&) {
        item = {};
        item.Address = Trim(raw);
    }
}

} // namespace

void ParseHeaders(TMxMessage& msg) {
    const TMxHeaderList& h = msg.Headers;
    std::string ct = h.Values("Content-Type");
    msg.ContentType = h.IndexOfName("Content-Type") < 0 ? "text/plain" : HeaderMainValue(ct);
    msg.CharSet = HeaderParam(ct, "charset");
    msg.ContentTransferEncoding = h.Values("Content-Transfer-Encoding");
    msg.ContentDisposition = h.Values("Content-Disposition");
    msg.Subject = DecodeHeader(h.Values("Subject"));
    ParseAddressList(msg.FromList, h.Values("From"));
    msg.MsgId = h.Values("Message-Id");
    msg.NewsGroups.clear();
    for (const auto& g : SplitTextLines(h.Values("Newsgroups"))) {
        size_t start = 0;
        while (start <= g.size()) {
            size_t comma = g.find(',', start);
            std::string item =
                Trim(g.substr(start, comma == std::string::npos ? comma : comma - start));
            if (!item.empty())
                msg.NewsGroups.push_back(item);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    ParseAddressList(msg.Recipients, h.Values("To"));
    ParseAddressList(msg.CCList, h.Values("Cc"));
    ParseAddressList(msg.BccList, h.Values("Bcc"));
    msg.Organization = h.Values("Organization");
    std::string receipt = h.Values("Disposition-Notification-To");
    if (receipt.empty())
        receipt = h.Values("Return-Receipt-To");
    ParseAddressItem(msg.ReceiptRecipient, receipt);
    msg.References = h.Values("References");
    msg.InReplyTo = h.Values("In-Reply-To");
    try {
        msg.ReplyTo.SetEMailAddresses(h.Values("Reply-To"));
    } catch (const EMxEmailParseError&) {
        msg.ReplyTo.Clear();
    }
    msg.Date = ParseMailDate(h.Values("Date"));
    ParseAddressItem(msg.Sender, h.Values("Sender"));
    std::string prio = h.Values("Priority");
    msg.Priority = ParsePriority(prio.empty() ? h.Values("X-Priority") : prio);
    msg.Encoding =
        h.IndexOfName("MIME-Version") >= 0 ? TMxMessageEncoding::MIME : TMxMessageEncoding::Plain;
}

std::string TMxMessageReader::ReadHeaderBlock(const std::string& delimiter) {
    TMxWorkScope work(FIo, TMxWorkMode::Read);
    TMxHeaderBudget budget(kMxMaxHeaderBytes, "Message header too long.");
    std::string ended;
    while (true) {
        std::string_view line = FIo.ReadLineView();
        if (delimiter.empty() ? (line.empty() || line == ".") : line == delimiter) {
            ended = std::string(line);
            break;
        }
        if (line.empty())
            continue;
        budget.Take(line);
        FMsg.Headers.Add(std::string(line));
    }
    ParseHeaders(FMsg);
    return ended;
}

void TMxMessageReader::ReadBodyBlock(const std::string& delimiter) {
    TMxWorkScope work(FIo, TMxWorkMode::Read);
    FBoundaries.Clear();
    std::string boundary = HeaderParam(FMsg.Headers.Values("Content-Type"), "boundary");
    if (!boundary.empty())
        FBoundaries.Push(std::move(boundary), -1);
    ReadMessageBody(FIo, FMsg, FBoundaries, delimiter);
}

std::string ReadHeaderBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter) {
    return TMxMessageReader(io, msg).ReadHeaderBlock(delimiter);
}

void ReadBodyBlock(TMxIOHandler& io, TMxMessage& msg, const std::string& delimiter) {
    TMxMessageReader(io, msg).ReadBodyBlock(delimiter);
}

void ReadMessageStream(TMxMessage& msg, std::istream& in, bool headersOnly) {
    msg.Clear();
    TMxIOHandlerStreamMsg io(&in);
    TMxMessageReader reader(io, msg);
    if (reader.ReadHeaderBlock("").empty() && !headersOnly)
        reader.ReadBodyBlock(".");
}

void ReadMessageFile(TMxMessage& msg, const std::string& path, bool headersOnly) {
    auto native = NativePath(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec))
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    std::unique_ptr<char[]> buf(new char[kFileBufferSize]);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buf.get(), kFileBufferSize);
    in.open(native, std::ios::binary);
    if (!in)
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    ReadMessageStream(msg, in, headersOnly);
}

} // namespace tzn
