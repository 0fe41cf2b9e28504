#include <string>

#include "fuzz/mail_targets.h"
#include "mail/email_address.h"
#include "mail/exceptions.h"
#include "mail/header_coding.h"
#include "mail/header_list.h"
#include "mail/header_params.h"
#include "mail/mail_date.h"
#include "mail/message_limits.h"
#include "mail/message_reader.h"

namespace tzn::fuzz {

void FuzzAddresses(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TMxEMailAddressList list;
    try {
        list.SetEMailAddresses(text);
        // The text the writer would put into a header must parse again.
        TMxEMailAddressList again;
        again.SetEMailAddresses(list.EMailAddresses());
    } catch (const EMxException&) {
        // A parse error, or more addresses than a list takes.
    }
    try {
        TMxEMailAddressItem item(text);
        (void)item.Text();
    } catch (const EMxEmailParseError&) {
    }
}

void FuzzHeaderText(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    // The first byte picks the encoding method and the character set of the encoding step.
    const uint8_t pick = data[0];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    (void)ParseMailDate(text);
    (void)HeaderParam(text, "boundary");
    (void)HeaderParam(text, "filename");
    try {
        (void)DecodeHeader(text);
    } catch (const EMxLimitExceeded&) {
    }
    const auto method = pick & 1 ? TMxHeaderMethod::Q : TMxHeaderMethod::B;
    const char* charSet = pick & 2 ? "ISO-2022-JP" : "KOI8-R";
    const std::string encoded =
        EncodeHeader(text, pick & 4 ? kMxAddressSpecials : "", method, charSet, pick & 2);
    try {
        (void)DecodeHeader(encoded);
    } catch (const EMxLimitExceeded&) {
    }
    (void)FoldHeaderLine(text, 78, pick >> 3);
    TMxHeaderList headers;
    headers.SetValue("Subject", text);
    (void)headers.Values("Subject");
}

} // namespace tzn::fuzz
