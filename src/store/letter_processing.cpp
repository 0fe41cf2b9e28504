#include "store/letter_processing.h"

#include "mail/message.h"
#include "module/activity_log.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "store/composition.h"
#include "store/local_side.h"
#include "store/subject_tag.h"
#include "tznmail/host.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tzn {

namespace {

// Anything at all at that path (a file, a folder, a dangling link) blocks the new file. A path
// the file system cannot even look at is reported with its own reason, not as a leftover.
bool PathTaken(const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(NativePath(path), ec).type();
    if (type == std::filesystem::file_type::not_found)
        return false;
    if (ec)
        throw std::runtime_error(ru("Файл данных не может быть записан: ") + path + ": " +
                                 ec.message());
    return true;
}

// File names on the data folder's file system hold at most 255 bytes (UTF-8 there); a margin
// is kept for the host's own renaming.
constexpr std::size_t kMaxDataFileNameBytes = 200;

// An over-long name cut to fit: its start, "~" and a hash of the whole name (so two long names
// that start alike stay apart), and its extension.
std::string ShortenedFileName(const std::string& name) {
    if (Utf8FromCp1251(name).size() <= kMaxDataFileNameBytes)
        return name;
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(hash));
    const std::size_t dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    const std::string tail = tag + (hasExt ? name.substr(dot) : std::string());
    std::string stem = name.substr(0, hasExt ? dot : name.size());
    const std::size_t tailBytes = Utf8FromCp1251(tail).size();
    while (!stem.empty() && Utf8FromCp1251(stem).size() + tailBytes > kMaxDataFileNameBytes)
        stem.pop_back();
    return stem + tail;
}

void ReportFailure(const std::string& sender, const std::string& message, TWindowServices& window) {
    const std::string text = ru("Не обработано письмо от ") + sender + "\r" + message;
    try {
        WriteActivityLog(text);
    } catch (...) {
        // The box still tells the user when the log cannot be written.
    }
    try {
        // Above every other window, as a report that stops a receiving session must be.
        window.ShowMessageBox(text, "", MB_OK | MB_ICONWARNING | MB_TOPMOST);
    } catch (...) {
        // The log entry stands; the caller's next letter is not held up by a broken window.
    }
}

// The attachment's content as `path`. The mail layer's own text does not say why a copy
// failed; the folder is asked, so the user reads of a full disk or a refused folder.
void SaveDataFile(const TMxAttachmentFile& part, const std::string& path) {
    try {
        part.SaveContentTo(path);
    } catch (const std::exception& e) {
        const std::string folder = NativePath(ExtractFilePath(path)).string();
        struct statvfs disk {};
        std::string why;
        if (::statvfs(folder.c_str(), &disk) != 0 || ::access(folder.c_str(), W_OK) != 0)
            why = std::strerror(errno);
        else if (disk.f_bavail == 0)
            why = std::strerror(ENOSPC);
        throw std::runtime_error(why.empty() ? std::string(e.what())
                                             : std::string(e.what()) + " " + path + ": " + why);
    }
}

} // namespace

std::string SafeDataFileName(const std::string& partFileName, std::size_t partIndex) {
    std::string name = ExtractFileName(partFileName);
    if (name.empty() || name == "." || name == "..")
        return "attachment-" + std::to_string(partIndex) + ".dat";
    return ShortenedFileName(name);
}

bool HandOverDataFile(const std::string& senderCode, const std::string& dataFile,
                      const TLocalSide& side, TWindowServices& window) {
    bool imported = false;
    try {
        // A received file that carries the reply file's name (a reply from the other side) is
        // the data itself: clearing the old reply must not delete it before the host sees it.
        const std::string replyFile = side.DataDir + kReplyFileName;
        if (NativePath(replyFile) != NativePath(dataFile))
            DeleteFile(replyFile);
        THostServices* host = side.Host;
        if (!host)
            return false;
        std::string answer;
        if (host->GetCount() > 1 && side.Office)
            answer = host->ImportDataFileFrom(senderCode, dataFile);
        else
            answer = host->ImportDataFile(dataFile);
        imported = true;
        if (!answer.empty())
            ComposeReplyLetter(senderCode, answer, side.StationCode, window);
    } catch (...) {
        // The host's import is its own business; the next attachment is handed over anyway.
    }
    return imported;
}

bool ProcessReceivedLetter(TMxMessage& letter, const TLocalSide& side, TWindowServices& window,
                           TLetterOutcome* outcome) {
    if (!SubjectCarriesTag(letter.Subject, side.StationCode))
        return true;
    TLetterOutcome local;
    TLetterOutcome& counted = outcome ? *outcome : local;
    counted = {};
    for (std::size_t i = 0; i < letter.MessageParts.Count(); ++i)
        if (letter.MessageParts[i].AsAttachment())
            ++counted.DataFiles;
    const std::string sender = letter.FromList.Empty() ? std::string() : letter.From().Name;
    const std::string& dataDir = side.DataDir;
    std::size_t handedOver = 0;
    try {
        // Without a folder the files would land wherever the process happens to run.
        if (dataDir.empty() && counted.DataFiles > 0)
            throw std::runtime_error("No data exchange folder");
        std::size_t attachmentIndex = 0;
        for (std::size_t i = 0; i < letter.MessageParts.Count(); ++i) {
            TMxAttachmentFile* part = letter.MessageParts[i].AsAttachment();
            if (!part)
                continue;
            ++attachmentIndex;
            part->FileIsTemporary = true;
            const std::string path =
                dataDir + SafeDataFileName(part->PartFileName, attachmentIndex);
            // A file of the same name left by an earlier letter goes first; most names are new.
            if (PathTaken(path)) {
                DeleteFile(path);
                if (PathTaken(path))
                    throw std::runtime_error(ru("Не удален временный файл с предыдущей АЗС"));
            }
            SaveDataFile(*part, path);
            if (HandOverDataFile(sender, path, side, window))
                ++counted.Imported;
            ++handedOver;
        }
    } catch (const std::exception& e) {
        ReportFailure(sender, e.what(), window);
        return handedOver > 0;
    }
    return true;
}

} // namespace tzn
