#include "mail/email_address.h"

#include "mail/exceptions.h"
#include "mail/message_limits.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"

namespace tzn {

namespace {

// The address with its local part quoted when it holds characters outside atext and ".".
std::string QuotedAddress(const std::string& address) {
    size_t at = address.rfind('@');
    std::string_view local = std::string_view(address).substr(0, at);
    bool plain = !local.empty();
    for (char c : local)
        if (!IsAtext(c) && c != '.')
            plain = false;
    if (plain || local.empty())
        return address;
    return QuotedString(local) + (at == std::string::npos ? std::string() : address.substr(at));
}

// Skips a comment starting at s[i] == '(' (comments nest); returns the index after it.
size_t SkipComment(std::string_view s, size_t i) {
    int depth = 0;
    for (; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
            continue;
        }
        if (s[i] == '(')
            ++depth;
        else if (s[i] == ')' && --depth == 0)
            return i + 1;
    }
    return s.size();
}

// Reads a quoted string starting at s[i] == '"'; returns the index after the closing quote.
size_t ReadQuoted(std::string_view s, size_t i, std::string& out) {
    for (++i; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
            continue;
        }
        if (s[i] == '"')
            return i + 1;
        out += s[i];
    }
    return s.size();
}

} // namespace

bool IsAtext(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    static const std::string_view extra = "!#$%&'*+-/=?^_`{|}~";
    return extra.find(c) != std::string_view::npos;
}

std::string TMxEMailAddressItem::Text() const {
    if (Name.empty())
        return QuotedAddress(Address);
    std::string addr = "<" + QuotedAddress(Address) + ">";
    if (Name == AnsiUpperCase(Address))
        return addr;
    bool atext = true;
    for (char c : Name)
        if (!IsAtext(c) && c != ' ')
            atext = false;
    return (atext ? Name : QuotedString(Name)) + " " + addr;
}

void TMxEMailAddressItem::SetText(std::string_view text) {
    Name.clear();
    Address.clear();
    std::string s(TrimView(text)); // blanks and control characters, line breaks included
    if (s.find_first_of("(\"<@ \t") == std::string::npos) {
        Address = s;
        return;
    }
    std::string name; // text outside angle brackets
    std::string addr; // the address found so far
    bool inAngle = false, closedAngle = false, bare = false;
    std::string pendingLocal; // a quoted string directly before '@'
    bool havePending = false;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c == '(') {
            i = SkipComment(s, i);
            bare = false;
            continue;
        }
        if (c == '"') {
            std::string q;
            i = ReadQuoted(s, i, q);
            if (inAngle || bare)
                addr += q;
            else if (i < s.size() && s[i] == '@') {
                pendingLocal = q;
                havePending = true;
            } else
                name += q;
            continue;
        }
        if (inAngle) {
            if (c == '>') {
                inAngle = false;
                closedAngle = true;
            } else if (!IsBlank(c))
                addr += c;
            ++i;
            continue;
        }
        if (c == '<') {
            inAngle = true;
            bare = false;
            addr.clear();
            ++i;
            continue;
        }
        if (c == '@') {
            if (closedAngle)
                throw EMxEmailParseError("@ Outside address");
            if (!bare) {
                // The word before '@' is the local part of a bare address.
                std::string local;
                if (havePending) {
                    local = pendingLocal;
                    havePending = false;
                } else {
                    size_t p = name.find_last_of(" \t");
                    local = p == std::string::npos ? name : name.substr(p + 1);
                    name.erase(p == std::string::npos ? 0 : p + 1);
                }
                addr = local;
                bare = true;
            }
            addr += '@';
            ++i;
            continue;
        }
        if (bare) {
            if (IsBlank(c) || c == ',')
                bare = false;
            else
                addr += c;
            ++i;
            continue;
        }
        if (havePending) { // a quoted string not followed by '@' after all
            name += pendingLocal;
            havePending = false;
        }
        if (!closedAngle)
            name += c;
        ++i;
    }
    if (havePending)
        name += pendingLocal;
    Name = TrimBlanks(name);
    Address = TrimBlanks(addr);
}

std::string TMxEMailAddressList::EMailAddresses() const {
    std::string out;
    for (const auto& item : FItems) {
        if (!out.empty())
            out += ", ";
        out += item.Text();
    }
    return out;
}

void TMxEMailAddressList::SetEMailAddresses(std::string_view text) {
    FItems.clear();
    auto addPiece = [this](std::string_view piece) {
        std::string t(TrimBlanks(piece));
        if (t.empty() || t == "<>")
            return;
        TMxEMailAddressItem item;
        item.SetText(t);
        if (item.Address.empty() && item.Name.empty())
            return;
        if (FItems.size() >= kMxMaxAddresses)
            throw EMxLimitExceeded("More than " + std::to_string(kMxMaxAddresses) +
                                   " addresses in one list.");
        FItems.push_back(std::move(item));
    };
    size_t start = 0;
    bool inQuote = false, inAngle = false, inGroup = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inQuote) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inQuote = false;
            continue;
        }
        switch (c) {
        case '"':
            inQuote = true;
            break;
        case '(':
            i = SkipComment(text, i) - 1;
            break;
        case '<':
            inAngle = true;
            break;
        case '>':
            inAngle = false;
            break;
        case ':':
            if (!inAngle && !inGroup) { // a group's display name: its members follow
                inGroup = true;
                start = i + 1;
            }
            break;
        case ';':
            if (!inAngle && inGroup) {
                addPiece(text.substr(start, i - start));
                inGroup = false;
                start = i + 1;
            }
            break;
        case ',':
            if (!inAngle) {
                addPiece(text.substr(start, i - start));
                start = i + 1;
            }
            break;
        default:
            break;
        }
    }
    if (start < text.size())
        addPiece(text.substr(start));
}

} // namespace tzn
