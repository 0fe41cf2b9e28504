// TMxMessage: the one letter type. A letter is composed, saved as a stored-message file (the
// exact text that travels inside an SMTP DATA exchange, ended by a line "."), loaded back,
// sent and received. Reading and writing go through an I/O handler (message_writer.h,
// message_reader.h); the file and stream entry points are here.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "mail/email_address.h"
#include "mail/header_list.h"
#include "mail/message_parts.h"
#include "platform/datetime.h"

namespace tzn {

enum class TMxMessagePriority { Highest = 1, High = 2, Normal = 3, Low = 4, Lowest = 5 };
enum class TMxMessageEncoding { Default, MIME, Plain };

// Boundaries of the multiparts being written or read, innermost last; each remembers the
// index of the part that opened it (-1 = the letter itself).
class TMxMIMEBoundary {
public:
    struct Entry {
        std::string Boundary;
        int ParentPart = -1;
    };
    void Push(std::string boundary, int parentPart) {
        FStack.push_back({std::move(boundary), parentPart});
    }
    void Pop() {
        if (!FStack.empty())
            FStack.pop_back();
    }
    void Clear() { FStack.clear(); }
    size_t Count() const { return FStack.size(); }
    bool Empty() const { return FStack.empty(); }
    const std::string& Boundary() const; // the innermost, or empty
    int ParentPart() const { return FStack.empty() ? -1 : FStack.back().ParentPart; }
    const Entry& operator[](size_t i) const { return FStack[i]; } // 0 = outermost

private:
    std::vector<Entry> FStack;
};

class TMxMessage {
public:
    TMxMessage();
    ~TMxMessage();
    TMxMessage(const TMxMessage&) = delete;
    TMxMessage& operator=(const TMxMessage&) = delete;

    // ---- addresses ----
    TMxEMailAddressList FromList;
    TMxEMailAddressItem& From(); // the first entry of FromList, created on first access
    TMxEMailAddressItem Sender;
    TMxEMailAddressList Recipients;
    TMxEMailAddressList CCList;
    TMxEMailAddressList BccList;
    TMxEMailAddressList ReplyTo;
    TMxEMailAddressItem ReceiptRecipient;

    // ---- header texts (CP1251) ----
    std::string Subject;
    std::string Organization;
    std::string References;
    std::string InReplyTo;
    std::string MsgId;
    std::vector<std::string> NewsGroups;
    TDateTime Date = 0; // 0: the time of building the headers is used
    bool UseNowForDate() const { return Date == 0; }
    void SetUseNowForDate(bool value); // true stores 0, false the current time
    TMxMessagePriority Priority = TMxMessagePriority::Normal;

    std::string ContentType;
    std::string CharSet;
    std::string ContentTransferEncoding;
    std::string ContentDisposition;
    TMxMessageEncoding Encoding = TMxMessageEncoding::Default;
    std::string AttachmentEncoding = "UUE"; // plain-text letters: "UUE" or "XXE"

    // ---- content ----
    std::vector<std::string> Body;
    TMxHeaderList ExtraHeaders; // appended after the generated headers
    TMxHeaderList Headers;      // raw header list: as read, or the base of generation
    TMxHeaderList LastGeneratedHeaders;
    TMxMessageParts MessageParts;
    TMxMIMEBoundary MIMEBoundary;

    // ---- behaviour ----
    bool NoEncode = false; // write Headers and Body as they are
    bool NoDecode = false; // read the body as plain lines, parts not decoded
    bool ConvertPreamble = true;
    std::string AttachmentTempDirectory; // empty: the system temporary folder
    bool IsMsgSinglePartMime = false;
    bool FileSaveInProgress() const { return FFileSaveInProgress; }

    // ---- clearing ----
    void Clear(); // header, body and parts (temporary attachment files are deleted)
    void ClearHeader();
    void ClearBody();

    // Fills LastGeneratedHeaders from the fields (see message_writer.cpp for the order).
    void BuildHeaders();

    // ---- stored-message files and streams ----
    // Writes the letter and the final "." line (not for headers only); the file is created
    // or truncated. Bcc is kept in files only.
    void WriteToFile(const std::string& path, bool headersOnly = false);
    void WriteToStream(std::ostream& out, bool headersOnly = false);
    // Clears the letter and reads it. A missing file raises EMxMessageCannotLoad
    // "Cannot load message from file %s". With headersOnly only the header block is read
    // (the body is never touched): the fast load for folder scans.
    void ReadFromFile(const std::string& path, bool headersOnly = false);
    void ReadFromStream(std::istream& in, bool headersOnly = false);

private:
    friend class TMxFileSaveScope;
    bool FFileSaveInProgress = false;
};

// The process-wide MIME boundary: made on first use, the same for every letter afterwards.
const std::string& ProcessBoundary();
// A boundary for a multipart nested in one using `outer`: one more random character.
std::string NestedBoundary(const std::string& outer);

} // namespace tzn
