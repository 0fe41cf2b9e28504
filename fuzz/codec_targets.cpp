#include <memory>
#include <string>
#include <string_view>

#include "fuzz/mail_targets.h"
#include "mail/codecs.h"
#include "mail/exceptions.h"

namespace tzn::fuzz {

namespace {

// Hands `text` to a streaming decoder line by line, as the message reader does.
void DecodeLines(TMxPartDecoder& decoder, std::string_view text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!decoder.DecodeLine(line))
            break;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    decoder.Finish();
}

} // namespace

void FuzzCodecs(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    const uint8_t pick = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    SetBase64VectorPaths(pick & 0x80);
    static const char* const kNames[] = {"MIME", "QP", "UUE", "XXE"};
    std::string decoded;
    TMxStringSink sink(decoded);
    auto decoder = CreateMessageDecoder(kNames[pick & 3], sink);
    DecodeLines(*decoder, text);
    switch (pick & 3) {
    case 0: {
        std::string whole = DecodeBase64(text);
        // The vector and portable paths must agree, and an encoding must decode back.
        SetBase64VectorPaths(!(pick & 0x80));
        if (DecodeBase64(text) != whole)
            __builtin_trap();
        if (DecodeBase64(EncodeBase64(whole)) != whole)
            __builtin_trap();
        break;
    }
    case 1:
        (void)DecodeQuotedPrintable(text);
        if (DecodeQuotedPrintable(EncodeQuotedPrintable(text)) != text)
            __builtin_trap();
        break;
    default:
        (void)ParseUUEBeginLine(text);
        (void)DetectUUEKind(text);
        break;
    }
}

} // namespace tzn::fuzz
