// The parts of a letter: text parts (lines held in memory) and attachments (content kept in
// a file and streamed in and out, or, for the small attachments of a letter read, held in
// memory up to TMxMessage::MaxHeldBytes).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mail/header_list.h"

namespace tzn {

enum class TMxPartKind { Text, Attachment };

class TMxText;
class TMxAttachmentFile;

// Base of every part. Only its descendants exist: creating a bare part raises
// EMxCanNotCreateMessagePart.
class TMxMessagePart {
public:
    TMxMessagePart(); // raises EMxCanNotCreateMessagePart
    virtual ~TMxMessagePart() = default;
    TMxMessagePart(const TMxMessagePart&) = delete;
    TMxMessagePart& operator=(const TMxMessagePart&) = delete;

    TMxPartKind Kind() const { return FKind; }
    TMxText* AsText();
    TMxAttachmentFile* AsAttachment();
    const TMxText* AsText() const;
    const TMxAttachmentFile* AsAttachment() const;

    std::string ContentType;
    std::string CharSet;
    std::string ContentTransfer;
    std::string ContentDisposition;
    std::string ContentID;
    std::string ContentLocation;
    std::string ContentDescription;
    std::string PartFileName;
    std::string Boundary; // the boundary of the multipart this part was read from
    int ParentPart = -1;  // index of the enclosing multipart part; -1 = the letter itself
    TMxHeaderList Headers;
    TMxHeaderList ExtraHeaders; // separator "=" for parts read from a letter

protected:
    TMxMessagePart(TMxPartKind kind, const std::string& extraSeparator);

private:
    TMxPartKind FKind = TMxPartKind::Text;
};

class TMxText : public TMxMessagePart {
public:
    explicit TMxText(const std::string& extraSeparator = ": ")
        : TMxMessagePart(TMxPartKind::Text, extraSeparator) {}
    std::vector<std::string> Body;
};

// An attachment whose content lies in the file at StoredPath (Windows-form or native path),
// or in memory (IsHeld(); StoredPath is empty then). A temporary file (one the reader decoded
// into) is deleted with the part.
class TMxAttachmentFile : public TMxMessagePart {
public:
    // PartFileName = the file-name component of `path`, StoredPath = `path`, not temporary.
    explicit TMxAttachmentFile(const std::string& path = {},
                               const std::string& extraSeparator = ": ");
    ~TMxAttachmentFile() override;

    std::string StoredPath;
    bool FileIsTemporary = false;
    bool Blocked = false; // the temporary file vanished while it was written

    // The content kept in memory instead of a file.
    void Hold(std::string bytes);
    bool IsHeld() const { return FIsHeld; }
    const std::string& Held() const { return FHeld; }

    // Bytes of content: the held ones, else the file's size (-1 when there is no file).
    int64_t ContentSize() const;
    // The whole content (held, or the file read); raises EMxException when the file cannot
    // be read. For small attachments: a file is not streamed.
    std::string ReadContent() const;
    // Copies the content to `path`; an existing target is never overwritten. Any failure
    // raises EMxException "Error saving attachment.".
    void SaveContentTo(const std::string& path) const;

private:
    std::string FHeld;
    bool FIsHeld = false;
};

class TMxMessageParts {
public:
    TMxMessageParts() = default;
    TMxMessageParts(const TMxMessageParts&) = delete;
    TMxMessageParts& operator=(const TMxMessageParts&) = delete;

    size_t Count() const { return FParts.size(); }
    bool Empty() const { return FParts.empty(); }
    TMxMessagePart& operator[](size_t i) { return *FParts[i]; }
    const TMxMessagePart& operator[](size_t i) const { return *FParts[i]; }

    TMxText& AddText(const std::vector<std::string>& body = {});
    TMxAttachmentFile& AddAttachment(const std::string& path);
    TMxMessagePart& Add(std::unique_ptr<TMxMessagePart> part);
    void Delete(size_t i); // frees the part (a temporary file goes with it)
    void Clear();

    // Counters, brought up to date by CountParts (done after every Add as well).
    void CountParts();
    int TextPartCount() const { return FTextCount; }
    int AttachmentCount() const { return FAttachmentCount; }
    int RelatedPartCount() const { return FRelatedCount; }

private:
    std::vector<std::unique_ptr<TMxMessagePart>> FParts;
    int FTextCount = 0;
    int FAttachmentCount = 0;
    int FRelatedCount = 0;
};

} // namespace tzn
