// How a delivery writes its letters on the wire: the one choice shared by a mail session and
// the administrator's tool, so both send a letter alike.
#pragma once

#include "mail/message_writer.h"
#include "module/settings.h"

namespace tzn {

// Non-ASCII header words as encoded words labelled windows-1251 (raw 8-bit with RawHeaders),
// 8-bit text parts labelled windows-1251, Bcc never written.
TMxWriteOptions DeliveryWriteOptions(const MailSettings& settings);

} // namespace tzn
