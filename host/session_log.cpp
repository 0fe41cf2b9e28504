#include "host/session_log.h"

#include <cctype>
#include <fstream>
#include <system_error>

namespace tzn {

TSessionLogFollower::TSessionLogFollower(std::filesystem::path file) : FFile(std::move(file)) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(FFile, ec);
    FOffset = ec ? 0 : size;
}

bool TSessionLogFollower::Next(std::string& line) {
    if (FLines.empty())
        ReadMore();
    if (FLines.empty())
        return false;
    line = std::move(FLines.front());
    FLines.pop_front();
    return true;
}

void TSessionLogFollower::ReadMore() {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(FFile, ec);
    if (ec)
        return;
    if (size < FOffset) {
        FOffset = 0;
        FPartial.clear();
    }
    if (size == FOffset)
        return;
    std::ifstream in(FFile, std::ios::binary);
    if (!in.seekg(static_cast<std::streamoff>(FOffset)))
        return;
    std::string chunk(static_cast<size_t>(size - FOffset), '\0');
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<size_t>(in.gcount()));
    FOffset += chunk.size();
    FPartial += chunk;
    size_t start = 0;
    for (size_t nl; (nl = FPartial.find('\n', start)) != std::string::npos; start = nl + 1) {
        size_t end = nl;
        if (end > start && FPartial[end - 1] == '\r')
            --end;
        FLines.push_back(FPartial.substr(start, end - start));
    }
    FPartial.erase(0, start);
}

std::string LogLineText(const std::string& line) {
    // Digits where the pattern has 'd', anything else literally.
    auto matches = [&line](const char* pattern) {
        size_t i = 0;
        for (; pattern[i]; ++i) {
            if (i >= line.size())
                return false;
            const char c = line[i];
            if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != pattern[i])
                return false;
        }
        return true;
    };
    constexpr const char* kSession = "dd.dd.dddd, dd:dd:dd - ";
    constexpr const char* kModule = "dd.dd.dddd - ";
    if (matches(kSession))
        return line.substr(std::char_traits<char>::length(kSession));
    if (matches(kModule))
        return line.substr(std::char_traits<char>::length(kModule));
    return line;
}

bool IsSessionEndLine(const std::string& text) {
    return text == std::string(37, '=');
}

} // namespace tzn
