// Where the reader puts a part's decoded bytes: memory for text parts and small attachments,
// temporary files for larger ones, all of one letter's files held to one spool budget and its
// memory to one hold budget; and the decoder that fits a part's transfer encoding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mail/codecs.h"
#include "mail/message_parts.h"

namespace tzn {

// Creates a new temporary file exclusively in tempDir (the system's when empty or missing);
// returns its descriptor and sets path.
int CreateTempPartFile(const std::string& tempDir, std::string& path);

// The decoded bytes all of a letter's temporary files may hold (TMxMessage::MaxSpooledBytes).
struct TMxSpoolBudget {
    int64_t Used = 0;
    int64_t Max = 0; // 0: no bound
    // Raises EMxSpoolLimitExceeded past Max.
    void Take(size_t bytes);
};

// The decoded attachment bytes a letter may keep in memory (TMxMessage::MaxHeldBytes).
struct TMxHoldBudget {
    size_t Used = 0;
    size_t Max = 0; // 0: nothing held
};

// Decoded bytes go through a large buffer into the temporary file; owns the descriptor.
class TMxTempFileSink : public TMxByteSink {
public:
    TMxTempFileSink(int fd, std::string path, TMxSpoolBudget& budget)
        : FFd(fd), FPath(std::move(path)), FBudget(budget) {}
    ~TMxTempFileSink() override;
    TMxTempFileSink(const TMxTempFileSink&) = delete;
    TMxTempFileSink& operator=(const TMxTempFileSink&) = delete;

    void Write(std::string_view bytes) override;
    // Writes what is buffered and closes the file; a failure raises EMxException.
    void Close();

private:
    void Flush();
    void WriteAll(std::string_view b);
    [[noreturn]] void Fail();

    // Inside the object, which the reader keeps on the stack: a heap block per letter comes
    // back as fresh pages once the allocator has returned it, and the faults cost more than
    // the decoding.
    static constexpr size_t kBufferSize = 1u << 16;

    int FFd;
    std::string FPath;
    TMxSpoolBudget& FBudget;
    size_t FLen = 0;
    char FBuf[kBufferSize];
};

// A new temporary file for `part` (which then owns it), holding `bytes` (emptied): where a
// sink goes on once memory is no longer the place for a part.
std::unique_ptr<TMxTempFileSink> SpillToTempFile(TMxAttachmentFile& part,
                                                 const std::string& tempDir, TMxSpoolBudget& budget,
                                                 std::string& bytes);

// A text part's bytes: in memory up to kMxMaxTextPartBytes; past that everything goes on
// into a temporary file, and the part becomes a file-backed one like an attachment.
class TMxTextPartSink : public TMxByteSink {
public:
    TMxTextPartSink(const std::string& tempDir, TMxSpoolBudget& budget)
        : FTempDir(tempDir), FBudget(budget) {}

    void Write(std::string_view bytes) override;
    // The part holding the file when the text went there, else nullptr (take Text()).
    std::unique_ptr<TMxAttachmentFile> Finish();
    const std::string& Text() const { return FText; }

private:
    void Spill();

    const std::string& FTempDir;
    TMxSpoolBudget& FBudget;
    std::string FText;
    std::unique_ptr<TMxAttachmentFile> FPart;
    std::unique_ptr<TMxTempFileSink> FFile;
};

// An attachment's bytes: in memory while the letter's held bytes stay within their budget;
// past it everything goes on into a temporary file of the part's own (deleted with it, also
// when decoding fails).
class TMxAttachmentSink : public TMxByteSink {
public:
    TMxAttachmentSink(TMxAttachmentFile& part, const std::string& tempDir, TMxSpoolBudget& spool,
                      TMxHoldBudget& hold)
        : FPart(part), FTempDir(tempDir), FSpool(spool), FHold(hold) {}

    void Write(std::string_view bytes) override;
    // Leaves the content with the part: held, or in its temporary file, closed.
    void Finish();

private:
    void Spill();

    TMxAttachmentFile& FPart;
    const std::string& FTempDir;
    TMxSpoolBudget& FSpool;
    TMxHoldBudget& FHold;
    std::string FBytes;
    std::unique_ptr<TMxTempFileSink> FFile;
};

// The decoder of a part's transfer encoding; anything not base64 or quoted-printable is
// taken as its lines.
std::unique_ptr<TMxPartDecoder> PartDecoderFor(const std::string& transfer, TMxByteSink& sink);

} // namespace tzn
