#include "exchange/app_server.h"

#include "platform/cp1251.h"
#include "platform/paths.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tzn {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> values;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        values.push_back(line.substr(from, tab - from));
        if (tab == std::string::npos)
            return values;
        from = tab + 1;
    }
}

// The file's rows, taking the fields asked for from each.
class TFileDataset final : public TProviderDataset {
public:
    TFileDataset(std::string file, std::string text, const std::vector<std::string>& fields)
        : FFile(std::move(file)), FText(std::move(text)) {
        std::string header;
        if (!NextLine(header))
            throw std::runtime_error(FFile + ": no line naming the fields");
        const std::vector<std::string> names = SplitTabs(header);
        for (const std::string& field : fields) {
            size_t at = 0;
            while (at < names.size() && !AnsiSameText(names[at], field))
                ++at;
            if (at == names.size())
                throw std::runtime_error(FFile + ": no field \"" + field + "\"");
            FColumns.push_back(at);
        }
    }

    bool Next(std::vector<std::string>& values) override {
        std::string line;
        if (!NextLine(line))
            return false;
        const std::vector<std::string> all = SplitTabs(line);
        values.clear();
        for (const size_t column : FColumns) {
            if (column >= all.size())
                throw std::runtime_error(FFile + ": line " + std::to_string(FLineNumber) + " has " +
                                         std::to_string(all.size()) + " fields, " +
                                         std::to_string(column + 1) + " needed");
            values.push_back(all[column]);
        }
        return true;
    }

private:
    // The next line without its break; a break at the very end starts no further line.
    bool NextLine(std::string& line) {
        if (FPos >= FText.size())
            return false;
        size_t end = FText.find('\n', FPos);
        const size_t next = end == std::string::npos ? FText.size() : end + 1;
        if (end == std::string::npos)
            end = FText.size();
        if (end > FPos && FText[end - 1] == '\r')
            --end;
        line = FText.substr(FPos, end - FPos);
        FPos = next;
        ++FLineNumber;
        return true;
    }

    const std::string FFile;
    const std::string FText;
    size_t FPos = 0;
    int FLineNumber = 0;
    std::vector<size_t> FColumns;
};

} // namespace

std::string ProviderFileName(const std::string& provider) {
    return "C:\\PLAV\\" + provider + ".tsv";
}

std::string LocalComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

bool NamesThisComputer(const std::string& computer) {
    // A host fills in its design-time default "localhost" or a loopback address as readily as
    // the computer's own name.
    return computer.empty() || AnsiSameText(computer, "localhost") || computer == "127.0.0.1" ||
           computer == "::1" || AnsiSameText(computer, LocalComputerName());
}

std::unique_ptr<TProviderDataset> TFileAppServer::Open(const std::string& computer,
                                                       const std::string& provider,
                                                       const std::vector<std::string>& fields) {
    if (!NamesThisComputer(computer))
        throw std::runtime_error("The application server on computer \"" + computer +
                                 "\" cannot be reached: only this computer's (\"" +
                                 LocalComputerName() + "\") is served");
    const std::string file = ProviderFileName(provider);
    std::ifstream in(NativePath(file), std::ios::binary);
    if (!in)
        throw std::runtime_error("Provider " + provider + " cannot be read from " + file);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw std::runtime_error("Provider " + provider + " cannot be read from " + file);
    return std::make_unique<TFileDataset>(file, std::move(text), fields);
}

} // namespace tzn
