#include "mail/message.h"

namespace tzn {

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
    Encoding = TMxMessageEncoding::Default;
    ConvertPreamble = true;
    IsMsgSinglePartMime = false;
}

void TMxMessage::ClearBody() {
    Body.clear();
    MessageParts.Clear();
}

void TMxMessage::Clear() {
    ClearHeader();
    ClearBody();
}

} // namespace tzn
