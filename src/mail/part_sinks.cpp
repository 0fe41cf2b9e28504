#include "mail/part_sinks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "mail/exceptions.h"
#include "mail/message_limits.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tzn {

namespace {

constexpr std::string_view kTempPrefix = "TZNA";

uint32_t NextTempCounter() {
    static std::atomic<uint32_t> counter{
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count())};
    return counter++;
}

// 7bit, 8bit, binary and anything unknown: the lines themselves. The break before a
// boundary belongs to the boundary, so breaks are written between lines.
class TMxLineDecoder : public TMxPartDecoder {
public:
    using TMxPartDecoder::TMxPartDecoder;
    bool DecodeLine(std::string_view line) override {
        if (FPending)
            FSink.Write("\r\n");
        FSink.Write(line);
        FPending = true;
        return true;
    }

private:
    bool FPending = false;
};

} // namespace

int CreateTempPartFile(const std::string& tempDir, std::string& path) {
    std::filesystem::path dir = tempDir.empty() ? SystemTempDirectory() : NativePath(tempDir);
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        dir = SystemTempDirectory();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "%.*s%08X.tmp", static_cast<int>(kTempPrefix.size()),
                      kTempPrefix.data(), NextTempCounter());
        std::string candidate = (dir / name).string();
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            throw EMxException("Cannot create temporary file " + candidate + ": " +
                               std::strerror(errno));
    }
    throw EMxException("Cannot create temporary file in " + dir.string());
}

std::unique_ptr<TMxTempFileSink> SpillToTempFile(TMxAttachmentFile& part,
                                                 const std::string& tempDir, TMxSpoolBudget& budget,
                                                 std::string& bytes) {
    std::string path;
    int fd = CreateTempPartFile(tempDir, path);
    part.StoredPath = path;
    part.FileIsTemporary = true; // deleted with the part, also when decoding fails
    auto file = std::make_unique<TMxTempFileSink>(fd, path, budget);
    file->Write(bytes);
    std::string().swap(bytes);
    return file;
}

void TMxSpoolBudget::Take(size_t bytes) {
    Used += static_cast<int64_t>(bytes);
    if (Max > 0 && Used > Max)
        throw EMxSpoolLimitExceeded("Letter larger than " + std::to_string(Max) +
                                    " bytes once decoded.");
}

TMxTempFileSink::~TMxTempFileSink() {
    if (FFd >= 0)
        ::close(FFd);
}

void TMxTempFileSink::Write(std::string_view bytes) {
    FBudget.Take(bytes.size());
    if (bytes.size() > kBufferSize - FLen)
        Flush();
    if (bytes.size() >= kBufferSize) {
        WriteAll(bytes);
        return;
    }
    std::memcpy(FBuf + FLen, bytes.data(), bytes.size());
    FLen += bytes.size();
}

void TMxTempFileSink::Close() {
    Flush();
    int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0)
        Fail();
}

void TMxTempFileSink::Flush() {
    WriteAll(std::string_view(FBuf, FLen));
    FLen = 0;
}

void TMxTempFileSink::WriteAll(std::string_view b) {
    if (!WriteAllTo(FFd, b))
        Fail();
}

void TMxTempFileSink::Fail() {
    throw EMxException("Error writing temporary file " + FPath + ": " + std::strerror(errno));
}

void TMxTextPartSink::Write(std::string_view bytes) {
    if (!FFile && FText.size() + bytes.size() <= kMxMaxTextPartBytes) {
        FText.append(bytes);
        return;
    }
    if (!FFile)
        Spill();
    FFile->Write(bytes);
}

std::unique_ptr<TMxAttachmentFile> TMxTextPartSink::Finish() {
    if (!FFile)
        return nullptr;
    FFile->Close();
    FFile.reset();
    return std::move(FPart);
}

void TMxTextPartSink::Spill() {
    FPart = std::make_unique<TMxAttachmentFile>(std::string(), "=");
    FFile = SpillToTempFile(*FPart, FTempDir, FBudget, FText);
}

void TMxAttachmentSink::Write(std::string_view bytes) {
    if (!FFile && FHold.Used + bytes.size() <= FHold.Max) {
        // Held bytes count against the letter's bound as spooled ones do.
        FSpool.Take(bytes.size());
        FBytes.append(bytes);
        FHold.Used += bytes.size();
        return;
    }
    if (!FFile)
        Spill();
    FFile->Write(bytes);
}

void TMxAttachmentSink::Finish() {
    if (!FFile && FHold.Max == 0)
        Spill(); // an empty one as well: nothing is held
    if (!FFile) {
        FPart.Hold(std::move(FBytes));
        return;
    }
    FFile->Close();
    FFile.reset();
    struct stat st {};
    if (::stat(FPart.StoredPath.c_str(), &st) != 0)
        FPart.Blocked = true; // removed by someone else meanwhile
}

void TMxAttachmentSink::Spill() {
    FHold.Used -= FBytes.size();
    FSpool.Used -= static_cast<int64_t>(FBytes.size()); // taken again as they are written
    FFile = SpillToTempFile(FPart, FTempDir, FSpool, FBytes);
}

std::unique_ptr<TMxPartDecoder> PartDecoderFor(const std::string& transfer, TMxByteSink& sink) {
    if (AnsiSameText(transfer, "base64"))
        return std::make_unique<TMxDecoderMIME>(sink);
    if (AnsiSameText(transfer, "quoted-printable"))
        return std::make_unique<TMxDecoderQuotedPrintable>(sink);
    // binhex40 stays as its text lines: no letter of this system carries it.
    return std::make_unique<TMxLineDecoder>(sink);
}

} // namespace tzn
