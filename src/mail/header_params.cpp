#include "mail/header_params.h"

#include <vector>

#include "mail/header_coding.h"
#include "mail/text_util.h"
#include "platform/cp1251.h"
#include "platform/text.h"

namespace tzn {

namespace {

constexpr std::string_view kFileNameChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890^&'@{}[],$=!-#()%.+~_";

// An RFC 2231 extended value: charset'language'%XX-escaped bytes.
std::string DecodeExtendedValue(std::string_view v, bool withCharset) {
    std::string charset;
    if (withCharset) {
        size_t q1 = v.find('\'');
        size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
            charset = std::string(v.substr(0, q1));
            v = v.substr(q2 + 1);
        }
    }
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && HexDigitValue(v[i + 1]) >= 0 &&
            HexDigitValue(v[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(v[i + 1]) * 16 + HexDigitValue(v[i + 2]));
            i += 2;
        } else
            out += v[i];
    }
    return AnsiSameText(charset, "utf-8") ? ru(out) : out;
}

// The parameters of a header value: (name, raw value) pairs after the first piece.
struct TMxParamItem {
    std::string Name;
    std::string Value;
    bool Quoted = false;
};

std::vector<TMxParamItem> SplitParams(std::string_view value) {
    std::vector<TMxParamItem> out;
    size_t i = 0;
    // Skip the leading token (the type or disposition itself) unless it is a parameter.
    size_t firstSemi = value.find(';');
    size_t firstEq = value.find('=');
    if (firstEq == std::string_view::npos ||
        (firstSemi != std::string_view::npos && firstSemi < firstEq))
        i = firstSemi == std::string_view::npos ? value.size() : firstSemi + 1;
    while (i < value.size()) {
        while (i < value.size() && (IsBlank(value[i]) || value[i] == ';'))
            ++i;
        size_t nameStart = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';')
            ++i;
        TMxParamItem p;
        p.Name = Trim(value.substr(nameStart, i - nameStart));
        if (i < value.size() && value[i] == '=') {
            ++i;
            while (i < value.size() && IsBlank(value[i]))
                ++i;
            if (i < value.size() && value[i] == '"') {
                p.Quoted = true;
                // Only a quote or a backslash is escaped: a Windows path such as
                // "C:\data\f.txt" keeps its backslashes, so the folders can be cut off.
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    if (value[i] == '\\' && i + 1 < value.size() &&
                        (value[i + 1] == '"' || value[i + 1] == '\\'))
                        ++i;
                    p.Value += value[i];
                }
                while (i < value.size() && value[i] != ';')
                    ++i;
            } else {
                size_t vs = i;
                while (i < value.size() && value[i] != ';')
                    ++i;
                p.Value = Trim(value.substr(vs, i - vs));
            }
        }
        if (!p.Name.empty())
            out.push_back(std::move(p));
    }
    return out;
}

} // namespace

std::string HeaderMainValue(std::string_view value) {
    return Trim(value.substr(0, value.find(';')));
}

std::string HeaderParam(const std::string& value, const std::string& param) {
    auto params = SplitParams(value);
    for (const auto& p : params)
        if (AnsiSameText(p.Name, param))
            return p.Value;
    // RFC 2231: name*=charset''%XX... or continuations name*0, name*1* ...
    for (const auto& p : params)
        if (AnsiSameText(p.Name, param + "*"))
            return DecodeExtendedValue(p.Value, true);
    std::string joined;
    bool found = false;
    for (int n = 0; n < 1000; ++n) {
        std::string plain = param + "*" + std::to_string(n);
        const TMxParamItem* hit = nullptr;
        bool ext = false;
        for (const auto& p : params) {
            if (AnsiSameText(p.Name, plain))
                hit = &p;
            else if (AnsiSameText(p.Name, plain + "*")) {
                hit = &p;
                ext = true;
            }
        }
        if (!hit)
            break;
        found = true;
        joined += ext ? DecodeExtendedValue(hit->Value, n == 0) : hit->Value;
    }
    return found ? joined : std::string();
}

std::string SafePartFileName(const std::string& raw) {
    std::string name = DecodeHeader(raw);
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name.erase(0, cut + 1);
    for (char& c : name)
        if (kFileNameChars.find(c) == std::string_view::npos)
            c = '_';
    return name;
}

} // namespace tzn
