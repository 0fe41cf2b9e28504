#include "platform/ini_file.h"

#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tzn {
namespace {

// Several objects (and threads) may update the same file; each update is a read-modify-write
// of the whole file, so updates are serialised process-wide.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    FILE* f = std::fopen(NativePath(path).c_str(), "rb");
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The file's content for an update; a missing file is empty. A file that exists but cannot be
// read is an error: writing without its content would replace every other section of a file the
// host suite shares with the one key being written.
std::string ContentForUpdate(const std::string& path) {
    std::string content;
    if (ReadWholeFile(path, content))
        return content;
    const int readErr = errno;
    std::error_code ec; // set for a missing file too; the type tells it apart
    if (std::filesystem::symlink_status(NativePath(path), ec).type() ==
        std::filesystem::file_type::not_found)
        return {};
    throw std::runtime_error("Unable to write to " + path +
                             ": cannot read it first: " + std::strerror(readErr ? readErr : EIO));
}

std::vector<TIniLine> SplitLines(const std::string& content) {
    std::vector<TIniLine> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        TIniLine l;
        if (nl == std::string::npos) {
            l.Text = content.substr(pos);
            pos = content.size();
        } else {
            size_t end = nl;
            if (end > pos && content[end - 1] == '\r')
                --end;
            l.Text = content.substr(pos, end - pos);
            l.Eol = content.substr(end, nl + 1 - end);
            pos = nl + 1;
        }
        lines.push_back(std::move(l));
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    const char* ws = " \t\r";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos)
        return {};
    const size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

// The section name of a "[name]" line; false for any other line.
bool SectionHeader(const std::string& text, std::string_view& name) {
    std::string_view t = Trim(text);
    if (t.empty() || t.front() != '[')
        return false;
    const size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

bool IsComment(std::string_view t) {
    return !t.empty() && t.front() == ';';
}

// The key and raw value of a "key=value" line; false for other lines.
bool KeyLine(const std::string& text, std::string_view& key, std::string_view& value) {
    std::string_view t = Trim(text);
    if (t.empty() || IsComment(t) || t.front() == '[')
        return false;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return !key.empty();
}

// Index range [begin, end) of the lines belonging to the first section of that name (the
// header line excluded); begin is npos when the section is absent.
struct TRange {
    size_t Header = std::string::npos;
    size_t Begin = std::string::npos;
    size_t End = 0;
};

TRange FindSection(const std::vector<TIniLine>& lines, const std::string& section) {
    TRange r;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (!SectionHeader(lines[i].Text, name))
            continue;
        if (r.Begin != std::string::npos) {
            r.End = i;
            return r;
        }
        if (AnsiSameText(name, section)) {
            r.Header = i;
            r.Begin = i + 1;
        }
    }
    if (r.Begin != std::string::npos)
        r.End = lines.size();
    return r;
}

size_t FindKey(const std::vector<TIniLine>& lines, const TRange& r, const std::string& key) {
    if (r.Begin == std::string::npos)
        return std::string::npos;
    for (size_t i = r.Begin; i < r.End; ++i) {
        std::string_view k, v;
        if (KeyLine(lines[i].Text, k, v) && AnsiSameText(k, key))
            return i;
    }
    return std::string::npos;
}

// New lines follow the file's own line-break style; a new file gets CR LF.
std::string LineBreakOf(const std::vector<TIniLine>& lines) {
    for (const TIniLine& l : lines)
        if (!l.Eol.empty())
            return l.Eol;
    return "\r\n";
}

std::string Join(const std::vector<TIniLine>& lines) {
    std::string out;
    for (const TIniLine& l : lines)
        out += l.Text + l.Eol;
    return out;
}

// Writes the new content beside the file, flushes it to disk and renames it over the old one,
// then flushes the folder, so that a full disk, a crash or a power cut leaves either the old or
// the new file, never a truncated or empty one.
void ReplaceFile(const std::string& path, const std::string& content) {
    // A settings file linked from elsewhere stays linked: the target is what gets replaced.
    std::filesystem::path target = NativePath(path);
    std::error_code linkErr;
    if (std::filesystem::is_symlink(target, linkErr)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, linkErr);
        if (!linkErr)
            target = resolved;
    }
    const std::string native = target.string();
    // A unique name beside the file, so that two processes updating it never share one.
    std::string tmp = native + ".XXXXXX";
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        throw std::runtime_error("Unable to write to " + path + ": " + std::strerror(errno));
    const auto fail = [&](int err, const char* step) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw std::runtime_error("Unable to write to " + path + ": " + step +
                                 std::strerror(err ? err : EIO));
    };
    // mkstemp creates the file private; the replacement keeps the old file's permissions, or
    // others sharing the file (the host suite) could lose access to it.
    if (::fchmod(fd, mode) != 0)
        fail(errno, "cannot set its permissions: ");
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(errno, "");
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        fail(errno, "cannot flush it to disk: ");
    if (::close(fd) != 0 || ::rename(tmp.c_str(), native.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error("Unable to write to " + path + ": " + std::strerror(err));
    }
    // The new file is in place and complete. Should the folder's entry not reach the disk, a
    // power cut brings back the old file, which is complete too: nothing to report then.
    try {
        SyncFolder(target.parent_path().string());
    } catch (const std::runtime_error&) {
    }
}

// Windows drops one pair of matching quotes around a value.
std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

} // namespace

TIniContent::TIniContent(const std::string& text) : FLines(SplitLines(text)) {}

std::string TIniContent::ReadString(const std::string& section, const std::string& key,
                                    const std::string& def) const {
    const size_t i = FindKey(FLines, FindSection(FLines, section), key);
    if (i == std::string::npos)
        return def;
    std::string_view k, v;
    KeyLine(FLines[i].Text, k, v);
    return Unquote(v);
}

int TIniContent::ReadInteger(const std::string& section, const std::string& key, int def) const {
    const std::string s = ReadString(section, key, "");
    std::string_view t = Trim(s);
    if (!t.empty() && t.front() == '+')
        t.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
        return def;
    return value;
}

bool TIniContent::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniContent::ValueExists(const std::string& section, const std::string& key) const {
    return FindKey(FLines, FindSection(FLines, section), key) != std::string::npos;
}

bool TIniContent::SectionExists(const std::string& section) const {
    return FindSection(FLines, section).Begin != std::string::npos;
}

std::vector<std::string> TIniContent::ReadSection(const std::string& section) const {
    std::vector<std::string> keys;
    const TRange r = FindSection(FLines, section);
    if (r.Begin == std::string::npos)
        return keys;
    for (size_t i = r.Begin; i < r.End; ++i) {
        std::string_view k, v;
        if (KeyLine(FLines[i].Text, k, v))
            keys.emplace_back(k);
    }
    return keys;
}

TIniFile::TIniFile(std::string path) : FPath(std::move(path)) {}

// A single write takes the process-wide lock itself; inside an update the update holds it.
std::unique_lock<std::mutex> TIniFile::LockForWrite() {
    return FUpdating ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(WriteMutex());
}

TIniContent TIniFile::Load() const {
    std::string content;
    if (ReadWholeFile(FPath, content))
        return TIniContent(content);
    const int err = errno;
    // A missing file, or a missing folder on its way, reads as empty.
    if (err == ENOENT || err == ENOTDIR)
        return {};
    throw std::runtime_error("Cannot read file " + FPath + ": " + std::strerror(err ? err : EIO));
}

// An unreadable file reads as a missing one here; Load tells the two apart.
TIniContent TIniFile::Snapshot() const {
    std::string content;
    return ReadWholeFile(FPath, content) ? TIniContent(content) : TIniContent();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return Snapshot().ReadString(section, key, def);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    return Snapshot().ReadInteger(section, key, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return Snapshot().ReadBool(section, key, def);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Snapshot().ValueExists(section, key);
}

bool TIniFile::SectionExists(const std::string& section) const {
    return Snapshot().SectionExists(section);
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    return Snapshot().ReadSection(section);
}

void TIniFile::CheckReadable() const {
    std::string content;
    std::error_code ec;
    const auto native = NativePath(FPath);
    if (!std::filesystem::exists(native, ec) && !ec)
        return;
    if (ec || !ReadWholeFile(FPath, content))
        throw std::runtime_error("Cannot read file " + FPath + ": " +
                                 std::strerror(errno ? errno : EIO));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos)
        throw std::runtime_error("Unable to write to " + FPath + ": line break in the value of " +
                                 key);
    std::unique_lock<std::mutex> lock = LockForWrite();
    std::vector<TIniLine> lines = SplitLines(Content());
    const std::string eol = LineBreakOf(lines);
    const TRange r = FindSection(lines, section);
    const size_t i = FindKey(lines, r, key);
    if (i != std::string::npos) {
        // Keep the key as the file spells it and everything before it on the line.
        const std::string& text = lines[i].Text;
        lines[i].Text = text.substr(0, text.find('=') + 1) + value;
    } else if (r.Begin != std::string::npos) {
        // Append after the section's last non-blank line, before any blank separator lines.
        size_t at = r.End;
        while (at > r.Begin && Trim(lines[at - 1].Text).empty())
            --at;
        if (at > 0 && lines[at - 1].Eol.empty())
            lines[at - 1].Eol = eol;
        lines.insert(lines.begin() + static_cast<long>(at), TIniLine{key + "=" + value, eol});
    } else {
        if (!lines.empty() && lines.back().Eol.empty())
            lines.back().Eol = eol;
        lines.push_back(TIniLine{"[" + section + "]", eol});
        lines.push_back(TIniLine{key + "=" + value, eol});
    }
    Store(Join(lines));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    std::unique_lock<std::mutex> lock = LockForWrite();
    const std::string content = Content();
    if (content.empty())
        return;
    std::vector<TIniLine> lines = SplitLines(content);
    const size_t i = FindKey(lines, FindSection(lines, section), key);
    if (i == std::string::npos)
        return;
    lines.erase(lines.begin() + static_cast<long>(i));
    Store(Join(lines));
}

void TIniFile::EraseSection(const std::string& section) {
    std::unique_lock<std::mutex> lock = LockForWrite();
    const std::string content = Content();
    if (content.empty())
        return;
    std::vector<TIniLine> lines = SplitLines(content);
    const TRange r = FindSection(lines, section);
    if (r.Begin == std::string::npos)
        return;
    lines.erase(lines.begin() + static_cast<long>(r.Header),
                lines.begin() + static_cast<long>(r.End));
    Store(Join(lines));
}

void TIniFile::BeginUpdate() {
    if (FUpdating)
        return;
    FUpdateLock = std::unique_lock<std::mutex>(WriteMutex());
    FPending = ContentForUpdate(FPath);
    FUpdating = true;
}

void TIniFile::Commit() {
    if (!FUpdating)
        return;
    FUpdating = false;
    const std::string content = std::move(FPending);
    FPending.clear();
    std::unique_lock<std::mutex> lock = std::move(FUpdateLock);
    ReplaceFile(FPath, content);
}

std::string TIniFile::Content() const {
    return FUpdating ? FPending : ContentForUpdate(FPath);
}

void TIniFile::Store(const std::string& content) {
    if (FUpdating)
        FPending = content;
    else
        ReplaceFile(FPath, content);
}

} // namespace tzn
