#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "fuzz/mail_targets.h"
#include "mail/exceptions.h"
#include "mail/io_handler.h"
#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "mail/pop3_response_reader.h"

namespace tzn::fuzz {

namespace {

// Attachments are decoded into files: one private folder per process, in memory when the
// machine has one, so that millions of runs do not wear a disk.
const std::string& AttachmentFolder() {
    static const std::string folder = [] {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::string tmpl = (base / "tznfuzzXXXXXX").string();
        const char* made = ::mkdtemp(tmpl.data());
        return made ? std::string(made) : std::string();
    }();
    return folder;
}

// Writes the letter as it was read and reads the written text back: the writer must cope
// with whatever the reader made of hostile input.
void WriteAndReadAgain(TMxMessage& msg) {
    std::ostringstream out;
    WriteMessageStream(msg, out);
    TMxMessage again;
    again.AttachmentTempDirectory = AttachmentFolder();
    std::istringstream in(out.str());
    ReadMessageStream(again, in);
}

} // namespace

void FuzzMessageFile(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TMxMessage msg;
    msg.AttachmentTempDirectory = AttachmentFolder();
    try {
        ReadMessageStream(msg, in);
        WriteAndReadAgain(msg);
    } catch (const EMxException&) {
    }
}

void FuzzMessagePop3(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TMxIOHandlerStream connection(&in, nullptr);
    connection.Open();
    TMxMessage msg;
    msg.AttachmentTempDirectory = AttachmentFolder();
    // As the POP3 client does: a letter that fails is skipped to the end of its answer.
    TMxPOP3ResponseReader answer(connection);
    try {
        if (ReadHeaderBlock(answer, msg, "").empty())
            ReadBodyBlock(answer, msg, ".");
        answer.SkipRest();
    } catch (const EMxException&) {
        try {
            answer.SkipRest();
        } catch (const EMxException&) {
        }
    }
}

} // namespace tzn::fuzz
