#include "mail/message.h"

#include <fstream>
#include <memory>
#include <random>

#include "mail/exceptions.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tzn {

namespace {

constexpr std::string_view kBoundaryChars =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::mt19937& Random() {
    thread_local std::mt19937 gen(std::random_device{}());
    return gen;
}

char RandomBoundaryChar() {
    std::uniform_int_distribution<size_t> pick(0, kBoundaryChars.size() - 1);
    return kBoundaryChars[pick(Random())];
}

std::string MakeBoundary() {
    std::string b(34, ' ');
    for (char& c : b)
        c = RandomBoundaryChar();
    std::uniform_int_distribution<size_t> pos(1, 33); // counted from 1
    size_t p = pos(Random()) - 1;
    b[p] = '=';
    b[p + 1] = '_';
    return b;
}

constexpr size_t kFileBufferSize = 1 << 16;

} // namespace

const std::string& ProcessBoundary() {
    // Made once; every letter of the process carries the same boundary.
    static const std::string boundary = MakeBoundary();
    return boundary;
}

std::string NestedBoundary(const std::string& outer) {
    return outer + RandomBoundaryChar();
}

const std::string& TMxMIMEBoundary::Boundary() const {
    static const std::string none;
    return FStack.empty() ? none : FStack.back().Boundary;
}

// Marks the letter as being saved to a file (Bcc is written only then), also on failure.
class TMxFileSaveScope {
public:
    explicit TMxFileSaveScope(TMxMessage& m) : FM(m) { FM.FFileSaveInProgress = true; }
    ~TMxFileSaveScope() { FM.FFileSaveInProgress = false; }
    TMxFileSaveScope(const TMxFileSaveScope&) = delete;
    TMxFileSaveScope& operator=(const TMxFileSaveScope&) = delete;

private:
    TMxMessage& FM;
};

TMxMessage::TMxMessage() {
    Clear();
}

TMxMessage::~TMxMessage() = default;

TMxEMailAddressItem& TMxMessage::From() {
    if (FromList.Empty())
        FromList.Add();
    return FromList[0];
}

void TMxMessage::SetUseNowForDate(bool value) {
    Date = value ? 0 : Now();
}

void TMxMessage::ClearHeader() {
    FromList.Clear();
    Sender = {};
    Recipients.Clear();
    CCList.Clear();
    BccList.Clear();
    ReplyTo.Clear();
    ReceiptRecipient = {};
    Subject.clear();
    Organization.clear();
    References.clear();
    InReplyTo.clear();
    MsgId.clear();
    NewsGroups.clear();
    Date = 0;
    Priority = TMxMessagePriority::Normal;
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    Headers.Clear();
    ExtraHeaders.Clear();
    MIMEBoundary.Clear();
    Encoding = TMxMessageEncoding::Default;
    ConvertPreamble = true;
    IsMsgSinglePartMime = false;
    FFileSaveInProgress = false;
}

void TMxMessage::ClearBody() {
    Body.clear();
    MessageParts.Clear();
}

void TMxMessage::Clear() {
    ClearHeader();
    ClearBody();
}

void TMxMessage::WriteToFile(const std::string& path, bool headersOnly) {
    auto native = NativePath(path);
    std::unique_ptr<char[]> buf(new char[kFileBufferSize]);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buf.get(), kFileBufferSize);
    out.open(native, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EMxException("Cannot create file " + path);
    TMxFileSaveScope saving(*this);
    try {
        WriteToStream(out, headersOnly);
        out.close();
        if (out.fail())
            throw EMxException("Error writing file " + path);
    } catch (...) {
        // A half-written letter would later load as a shorter, seemingly whole one.
        out.close();
        DeleteFile(native.string());
        throw;
    }
}

void TMxMessage::WriteToStream(std::ostream& out, bool headersOnly) {
    TMxIOHandlerStream io(nullptr, &out);
    TransmitMessage(io, *this, headersOnly);
    if (!headersOnly)
        io.WriteLine(".");
    out.flush();
    if (!out)
        throw EMxException("Error writing to stream.");
}

void TMxMessage::ReadFromFile(const std::string& path, bool headersOnly) {
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
    ReadFromStream(in, headersOnly);
}

void TMxMessage::ReadFromStream(std::istream& in, bool headersOnly) {
    Clear();
    TMxIOHandlerStreamMsg io(&in);
    std::string ended = ReadHeaderBlock(io, *this, "");
    if (ended.empty() && !headersOnly)
        ReadBodyBlock(io, *this, ".");
}

} // namespace tzn
