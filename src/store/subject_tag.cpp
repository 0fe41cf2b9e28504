#include "store/subject_tag.h"

#include "platform/cp1251.h"
#include "store/composition.h"

namespace tzn {
namespace {

// Letters and digits of CP1251: ASCII, Ё/ё and А..я.
bool IsWordChar(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           c == 0xA8 || c == 0xB8 || c >= 0xC0;
}

} // namespace

bool SubjectCarriesTag(const std::string& subject, const std::string& stationCode) {
    const std::string tag = AnsiUpperCase(std::string(kSubjectPrefix) + stationCode);
    const std::string text = AnsiUpperCase(subject);
    for (size_t p = text.find(tag); p != std::string::npos; p = text.find(tag, p + 1)) {
        const size_t after = p + tag.size();
        if (after == text.size() || !IsWordChar(static_cast<unsigned char>(text[after])))
            return true;
    }
    return false;
}

} // namespace tzn
