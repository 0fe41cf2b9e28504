// Mail addresses: one address with its display name, and ordered lists of them as header
// text ("Name <a@b>, c@d").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tzn {

class TMxEMailAddressItem {
public:
    TMxEMailAddressItem() = default;
    explicit TMxEMailAddressItem(std::string_view text) { SetText(text); }
    TMxEMailAddressItem(std::string name, std::string address)
        : Name(std::move(name)), Address(std::move(address)) {}

    std::string Name;
    std::string Address;

    // The combined form: bare address; "<address>" when the name is the upper-cased
    // address; "name <address>" for names of atext and blanks; else the name quoted.
    std::string Text() const;
    // Parses one address (quotes, comments, angle brackets, a bare local@domain). Raises
    // EMxEmailParseError "@ Outside address" for an '@' after a closed "<...>".
    void SetText(std::string_view text);
    bool Empty() const { return Name.empty() && Address.empty(); }
    bool operator==(const TMxEMailAddressItem&) const = default;
};

class TMxEMailAddressList {
public:
    size_t Count() const { return FItems.size(); }
    bool Empty() const { return FItems.empty(); }
    TMxEMailAddressItem& operator[](size_t i) { return FItems[i]; }
    const TMxEMailAddressItem& operator[](size_t i) const { return FItems[i]; }
    TMxEMailAddressItem& Add() { return FItems.emplace_back(); }
    TMxEMailAddressItem& Add(const TMxEMailAddressItem& item) { return FItems.emplace_back(item); }
    void Delete(size_t i) { FItems.erase(FItems.begin() + static_cast<long>(i)); }
    void Clear() { FItems.clear(); }
    std::vector<TMxEMailAddressItem>::const_iterator begin() const { return FItems.begin(); }
    std::vector<TMxEMailAddressItem>::const_iterator end() const { return FItems.end(); }

    // Items' texts joined with ", ".
    std::string EMailAddresses() const;
    // Clears the list and parses comma text: commas inside quotes, comments and angle
    // brackets do not split; a group "name: a, b;" contributes its members; empty pieces
    // and "<>" are dropped. More than kMxMaxAddresses addresses raise EMxLimitExceeded.
    void SetEMailAddresses(std::string_view text);

private:
    std::vector<TMxEMailAddressItem> FItems;
};

// Characters a name or local part may hold unquoted (RFC 2822 atext).
bool IsAtext(char c);

} // namespace tzn
