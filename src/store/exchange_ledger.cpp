#include "store/exchange_ledger.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace tzn {
namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
// Fields of a line: time, kind, code, files, imported, request, Message-ID, text.
constexpr size_t kFields = 8;

// A field never holds the separators of the line.
std::string Field(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return out;
}

// A decimal number of at most `maxDigits` digits; false for anything else.
bool Number(std::string_view text, size_t maxDigits, long long& out) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

// Where the latest station list begins: each list is written at once, its records numbered
// from 0 in their Files field. records.size() when there is none.
size_t LatestStationListStart(const std::vector<TLedgerRecord>& records) {
    size_t start = records.size();
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].Kind == TLedgerKind::Station && records[i].Files == 0)
            start = i;
    return start;
}

std::string Reason() {
    return std::strerror(errno);
}

} // namespace

std::string FormatLedgerRecord(const TLedgerRecord& r) {
    std::string line = std::to_string(static_cast<long long>(r.Time));
    line += '\t';
    line += static_cast<char>(r.Kind);
    line += '\t' + Field(r.Code) + '\t' + std::to_string(r.Files) + '\t' +
            std::to_string(r.Imported) + '\t' + (r.Request ? "1" : "0") + '\t' +
            Field(r.MessageId) + '\t' + Field(r.Text);
    return line;
}

std::optional<TLedgerRecord> ParseLedgerRecord(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::vector<std::string_view> f;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (f.size() != kFields)
        return std::nullopt;
    TLedgerRecord r;
    long long time = 0, files = 0, imported = 0;
    if (!Number(f[0], 12, time) || !Number(f[3], 6, files) || !Number(f[4], 6, imported))
        return std::nullopt;
    if (f[1].size() != 1 || (f[1][0] != 'R' && f[1][0] != 'S' && f[1][0] != 'N'))
        return std::nullopt;
    if (f[2].empty() || (f[5] != "0" && f[5] != "1") || imported > files)
        return std::nullopt;
    r.Time = static_cast<std::time_t>(time);
    r.Kind = static_cast<TLedgerKind>(f[1][0]);
    r.Code = std::string(f[2]);
    r.Files = static_cast<int>(files);
    r.Imported = static_cast<int>(imported);
    r.Request = f[5] == "1";
    r.MessageId = std::string(f[6]);
    r.Text = std::string(f[7]);
    return r;
}

TExchangeLedger::TExchangeLedger(const std::string& mailDir)
    : FFileName(IncludeTrailingBackslash(mailDir) + kLedgerFileName) {}

void TExchangeLedger::Append(const std::vector<TLedgerRecord>& records) const {
    if (records.empty())
        return;
    std::string data;
    for (const TLedgerRecord& r : records)
        data += FormatLedgerRecord(r) + '\n';
    const std::string native = NativePath(FFileName).string();
    const int fd = ::open(native.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("Cannot open file \"" + FFileName + "\": " + Reason());
    // A process that died inside a write may have left a line without its end; the new
    // records must not be glued to it, or they would be skipped with it.
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        data.insert(data.begin(), '\n');
    const bool written = WriteAllTo(fd, data);
    const std::string why = written ? std::string() : Reason();
    ::close(fd);
    if (!written)
        throw std::runtime_error("Cannot write file \"" + FFileName + "\": " + why);
}

std::vector<TLedgerRecord> TExchangeLedger::Load() const {
    std::vector<TLedgerRecord> out;
    if (!FileExists(FFileName))
        return out;
    std::ifstream in(NativePath(FFileName), std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot open file \"" + FFileName + "\"");
    std::string line;
    while (std::getline(in, line))
        if (auto r = ParseLedgerRecord(line))
            out.push_back(std::move(*r));
    if (in.bad())
        throw std::runtime_error("Cannot read file \"" + FFileName + "\"");
    return out;
}

bool TExchangeLedger::Prune(std::time_t now) const {
    // Records are appended as time goes, so the first one that reads is the oldest; only
    // when it is due is the whole file read.
    {
        std::ifstream in(NativePath(FFileName), std::ios::binary);
        std::string line;
        std::optional<TLedgerRecord> first;
        while (!first && std::getline(in, line))
            first = ParseLedgerRecord(line);
        if (!first || first->Time >= now - (kLedgerRetentionDays + kLedgerRewriteSlackDays) * kDay)
            return false;
    }
    const std::vector<TLedgerRecord> all = Load();
    const size_t listStart = LatestStationListStart(all);
    const std::time_t oldest = now - kLedgerRetentionDays * kDay;
    std::string data;
    for (size_t i = 0; i < all.size(); ++i) {
        const TLedgerRecord& r = all[i];
        if (r.Time >= oldest || (r.Kind == TLedgerKind::Station && i >= listStart))
            data += FormatLedgerRecord(r) + '\n';
    }

    const std::string temp = FFileName + "." + std::to_string(::getpid()) + ".tmp";
    const std::string native = NativePath(temp).string();
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("Cannot create file \"" + temp + "\": " + Reason());
    const bool written = WriteAllTo(fd, data) && ::fsync(fd) == 0;
    const std::string why = written ? std::string() : Reason();
    ::close(fd);
    if (!written || !MoveFileReplace(temp, FFileName)) {
        DeleteFile(temp);
        throw std::runtime_error("Cannot write file \"" + FFileName + "\"" +
                                 (why.empty() ? std::string() : ": " + why));
    }
    return true;
}

std::vector<TListedStation> LatestStationList(const std::vector<TLedgerRecord>& records) {
    std::vector<TListedStation> out;
    for (size_t i = LatestStationListStart(records); i < records.size(); ++i)
        if (records[i].Kind == TLedgerKind::Station)
            out.push_back({records[i].Code, records[i].Text});
    return out;
}

std::vector<TLedgerRecord> StationListRecords(const std::vector<TListedStation>& stations,
                                              std::time_t now) {
    std::vector<TLedgerRecord> out;
    for (const TListedStation& s : stations) {
        TLedgerRecord r;
        r.Time = now;
        r.Kind = TLedgerKind::Station;
        r.Code = s.Code;
        r.Text = s.Name;
        r.Files = static_cast<int>(out.size());
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace tzn
