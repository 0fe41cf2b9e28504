#include "store/message_id.h"

#include "mail/message.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/datetime.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace tzn {
namespace {

std::atomic<unsigned> MessageIdCounter{0};

// Only dot-atom text stays: anything else could end the id or break the header.
std::string IdDomain(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
        if (plain)
            out += c;
    }
    while (!out.empty() && out.front() == '.')
        out.erase(out.begin());
    while (!out.empty() && out.back() == '.')
        out.pop_back();
    return out.empty() ? "tznmail" : out;
}

// The time, process and counter already differ between two ids of one machine; the random
// part keeps two machines with the same clock and process id apart.
unsigned RandomPart() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<unsigned>(generator());
}

} // namespace

std::string NewMessageId(const std::string& domain) {
    char text[80];
    std::snprintf(text, sizeof text, ".%ld.%u.%08x@", static_cast<long>(::getpid()),
                  ++MessageIdCounter, RandomPart());
    return "<" + FormatDateTime("yyyymmddhhnnss", Now()) + text + IdDomain(domain) + ">";
}

void EnsureMessageId(TMxMessage& letter) {
    if (!letter.Headers.Values("Message-ID").empty())
        return;
    if (letter.MsgId.empty()) {
        const std::string address = MailSettingsSnapshot().EMail;
        const size_t at = address.rfind('@');
        letter.MsgId =
            NewMessageId(at == std::string::npos ? StationCode() : address.substr(at + 1));
    }
    // The generated header block starts from this list, so the id is written with the letter.
    letter.Headers.SetValue("Message-ID", letter.MsgId);
}

} // namespace tzn
