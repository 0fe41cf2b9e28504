// A small JSON writer for the tool's --json output. Text given to it is UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tzn::tool {

// A JSON string literal for UTF-8 text (control characters escaped).
inline std::string JsonQuote(std::string_view utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else
                out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Builds one JSON document; commas and nesting are kept track of.
//   JsonWriter j; j.BeginObject(); j.Key("a"); j.String("x"); j.EndObject(); j.Text();
class TJsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(std::string_view name) {
        Separate();
        FOut += JsonQuote(name) + ": ";
        FAfterKey = true;
    }
    void String(std::string_view utf8) { Value(JsonQuote(utf8)); }
    void Number(long long v) { Value(std::to_string(v)); }
    void Bool(bool v) { Value(v ? "true" : "false"); }
    void Null() { Value("null"); }
    void StringArray(const std::vector<std::string>& utf8) {
        BeginArray();
        for (const auto& s : utf8)
            String(s);
        EndArray();
    }
    const std::string& Text() const { return FOut; }

private:
    void Separate() {
        if (FAfterKey) {
            FAfterKey = false;
            return;
        }
        if (!FFirst.empty()) {
            if (!FFirst.back())
                FOut += ", ";
            FFirst.back() = false;
        }
    }
    void Value(const std::string& literal) {
        Separate();
        FOut += literal;
    }
    void Open(char c) {
        Separate();
        FOut += c;
        FFirst.push_back(true);
    }
    void Close(char c) {
        FOut += c;
        if (!FFirst.empty())
            FFirst.pop_back();
    }
    std::string FOut;
    std::vector<bool> FFirst;
    bool FAfterKey = false;
};

} // namespace tzn::tool
