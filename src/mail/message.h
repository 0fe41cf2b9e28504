// TMxMessage: the one letter type, a plain data type with its parts. A letter is composed,
// saved as a stored-message file (the exact text that travels inside an SMTP DATA exchange,
// ended by a line "."), loaded back, sent and received; the writing and reading, files and
// streams included, live in message_writer.h and message_reader.h.
#pragma once

#include <string>
#include <vector>

#include "mail/email_address.h"
#include "mail/header_list.h"
#include "mail/message_limits.h"
#include "mail/message_parts.h"
#include "platform/datetime.h"

namespace tzn {

enum class TMxMessagePriority { Highest = 1, High = 2, Normal = 3, Low = 4, Lowest = 5 };
enum class TMxMessageEncoding { Default, MIME, Plain };

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
    TMxMessageParts MessageParts;

    // ---- behaviour ----
    bool NoEncode = false; // write Headers and Body as they are
    bool NoDecode = false; // read the body as plain lines, parts not decoded
    // A body beside attachments only becomes a text part of its own when written; cleared
    // by the reader when the body it read was a preamble, so saving again keeps it one.
    bool ConvertPreamble = true;
    std::string AttachmentTempDirectory; // empty: the system temporary folder
    // Decoded bytes all of the letter's temporary files may take when it is read; past it the
    // reader raises EMxSpoolLimitExceeded. 0: no bound.
    int64_t MaxSpooledBytes = 0;
    // Decoded bytes of the letter's attachments the reader keeps in memory (a letter of
    // reports has small ones, and a file each costs more than decoding them); past it they go
    // into temporary files. 0: all in files.
    int64_t MaxHeldBytes = kMxMaxHeldAttachmentBytes;
    bool IsMsgSinglePartMime = false; // one part and no body, or received as one part

    // ---- clearing ----
    void Clear(); // header, body and parts (temporary attachment files are deleted)
    void ClearHeader();
    void ClearBody();
};

} // namespace tzn
