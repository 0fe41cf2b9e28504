#include "store/message_id.h"

#include "mail/message.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
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

void EnsureMessageId(TMxMessage& letter, const std::string& stationCode) {
    if (!letter.Headers.Values("Message-ID").empty())
        return;
    if (letter.MsgId.empty())
        letter.MsgId = NewLetterMessageId(stationCode);
    // The generated header block starts from this list, so the id is written with the letter.
    letter.Headers.SetValue("Message-ID", letter.MsgId);
}

std::string NewLetterMessageId(const std::string& stationCode) {
    const std::string address = MailSettingsSnapshot().EMail;
    const size_t at = address.rfind('@');
    return NewMessageId(at == std::string::npos ? stationCode : address.substr(at + 1));
}

std::string ReplaceMessageId(const std::string& storedText, const std::string& id) {
    // The header block ends at the first empty line; a text without one is all header.
    // Stored letters end their lines with CR LF; a text with bare LF keeps to its own.
    const bool bareLf =
        storedText.find('\n') != std::string::npos && storedText.find("\r\n") == std::string::npos;
    const std::string eol = bareLf ? "\n" : "\r\n";
    size_t end = storedText.find(eol + eol);
    end = end == std::string::npos ? storedText.size() : end + eol.size();
    const std::string line = "Message-ID: " + id + eol;
    for (size_t pos = 0; pos < end;) {
        size_t next = storedText.find(eol, pos);
        next = next == std::string::npos || next >= end ? end : next + eol.size();
        if (AnsiSameText(storedText.substr(pos, 11), "Message-ID:")) {
            // Continuation lines (starting with a blank) belong to the same header.
            while (next < end && (storedText[next] == ' ' || storedText[next] == '\t')) {
                const size_t more = storedText.find(eol, next);
                next = more == std::string::npos || more >= end ? end : more + eol.size();
            }
            return storedText.substr(0, pos) + line + storedText.substr(next);
        }
        pos = next;
    }
    if (end > 0 && storedText.compare(end - eol.size(), eol.size(), eol) != 0)
        return storedText.substr(0, end) + eol + line + storedText.substr(end);
    return storedText.substr(0, end) + line + storedText.substr(end);
}

void RenewMessageId(const std::string& path, const std::string& stationCode) {
    std::string text;
    {
        std::ifstream in(NativePath(path), std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot read " + path);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            throw std::runtime_error("cannot read " + path);
    }
    const std::string temp = path + ".new-id";
    if (!CreateFileExclusive(temp))
        throw std::runtime_error("cannot create " + temp);
    try {
        {
            std::ofstream out(NativePath(temp), std::ios::binary | std::ios::trunc);
            out << ReplaceMessageId(text, NewLetterMessageId(stationCode));
            out.close();
            if (!out)
                throw std::runtime_error("cannot write " + temp);
        }
        SyncFile(temp);
        if (!MoveFileReplace(temp, path))
            throw std::runtime_error("cannot replace " + path);
    } catch (...) {
        DeleteFile(temp);
        throw;
    }
}

} // namespace tzn
