#include "mail/message_parts.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string_view>

#include "mail/exceptions.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tzn {

TMxMessagePart::TMxMessagePart() {
    throw EMxCanNotCreateMessagePart();
}

TMxMessagePart::TMxMessagePart(TMxPartKind kind, const std::string& extraSeparator)
    : ExtraHeaders(extraSeparator), FKind(kind) {}

TMxText* TMxMessagePart::AsText() {
    return FKind == TMxPartKind::Text ? static_cast<TMxText*>(this) : nullptr;
}
const TMxText* TMxMessagePart::AsText() const {
    return FKind == TMxPartKind::Text ? static_cast<const TMxText*>(this) : nullptr;
}
TMxAttachmentFile* TMxMessagePart::AsAttachment() {
    return FKind == TMxPartKind::Attachment ? static_cast<TMxAttachmentFile*>(this) : nullptr;
}
const TMxAttachmentFile* TMxMessagePart::AsAttachment() const {
    return FKind == TMxPartKind::Attachment ? static_cast<const TMxAttachmentFile*>(this) : nullptr;
}

TMxAttachmentFile::TMxAttachmentFile(const std::string& path, const std::string& extraSeparator)
    : TMxMessagePart(TMxPartKind::Attachment, extraSeparator), StoredPath(path) {
    PartFileName = ExtractFileName(path);
}

TMxAttachmentFile::~TMxAttachmentFile() {
    if (FileIsTemporary && !StoredPath.empty())
        DeleteFile(StoredPath);
}

void TMxAttachmentFile::Hold(std::string bytes) {
    FHeld = std::move(bytes);
    FIsHeld = true;
    StoredPath.clear();
}

int64_t TMxAttachmentFile::ContentSize() const {
    return FIsHeld ? static_cast<int64_t>(FHeld.size()) : FileSize(StoredPath);
}

std::string TMxAttachmentFile::ReadContent() const {
    if (FIsHeld)
        return FHeld;
    std::ifstream in(NativePath(StoredPath), std::ios::binary);
    std::ostringstream content;
    if (!in || (!(content << in.rdbuf()) && FileSize(StoredPath) != 0))
        throw EMxException("Cannot read attachment file " + StoredPath);
    return content.str();
}

namespace {

// Copies what is left of `in` to `out`. The kernel copies without passing the bytes through
// this process where it can; when it cannot copy even the first byte (another file system, an
// old kernel), the plain loop does.
bool CopyFileContent(int in, int out) {
    bool copiedAny = false;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
        if (n > 0) {
            copiedAny = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (copiedAny)
            return n == 0;
        break;
    }
    static constexpr size_t kChunk = 1 << 16;
    char buf[kChunk]; // on the stack: a heap block would come back as fresh pages each time
    for (;;) {
        const ssize_t n = ::read(in, buf, kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!WriteAllTo(out, std::string_view(buf, static_cast<size_t>(n))))
            return false;
    }
}

} // namespace

void TMxAttachmentFile::SaveContentTo(const std::string& path) const {
    // The target is created exclusively, so an existing file is never overwritten, and a
    // failed copy leaves no half-written file behind.
    const std::string error = "Error saving attachment.";
    int in = -1;
    if (!FIsHeld && (in = ::open(NativePath(StoredPath).c_str(), O_RDONLY | O_CLOEXEC)) < 0)
        throw EMxException(error);
    std::string target = NativePath(path).string();
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        if (in >= 0)
            ::close(in);
        throw EMxException(error);
    }
    bool ok = FIsHeld ? WriteAllTo(out, FHeld) : CopyFileContent(in, out);
    if (in >= 0)
        ::close(in);
    if (::close(out) != 0)
        ok = false;
    if (!ok) {
        ::unlink(target.c_str());
        throw EMxException(error);
    }
}

TMxText& TMxMessageParts::AddText(const std::vector<std::string>& body) {
    auto part = std::make_unique<TMxText>();
    part->Body = body;
    return *static_cast<TMxText*>(&Add(std::move(part)));
}

TMxAttachmentFile& TMxMessageParts::AddAttachment(const std::string& path) {
    return *static_cast<TMxAttachmentFile*>(&Add(std::make_unique<TMxAttachmentFile>(path)));
}

TMxMessagePart& TMxMessageParts::Add(std::unique_ptr<TMxMessagePart> part) {
    FParts.push_back(std::move(part));
    const TMxMessagePart& p = *FParts.back();
    (p.Kind() == TMxPartKind::Text ? FTextCount : FAttachmentCount) += 1;
    FRelatedCount += p.ContentID.empty() ? 0 : 1;
    return *FParts.back();
}

void TMxMessageParts::Delete(size_t i) {
    if (i < FParts.size())
        FParts.erase(FParts.begin() + static_cast<long>(i));
    CountParts();
}

void TMxMessageParts::Clear() {
    FParts.clear();
    CountParts();
}

void TMxMessageParts::CountParts() {
    FTextCount = FAttachmentCount = FRelatedCount = 0;
    for (const auto& p : FParts) {
        if (p->Kind() == TMxPartKind::Text)
            ++FTextCount;
        else
            ++FAttachmentCount;
        if (!p->ContentID.empty())
            ++FRelatedCount;
    }
}

} // namespace tzn
