#include "store/mail_store.h"

#include "platform/sync_group.h"

#include "mail/exceptions.h"
#include "mail/io_handler_stream_msg.h"
#include "mail/message.h"
#include "mail/message_reader.h"
#include "mail/message_writer.h"
#include "module/settings.h"
#include "module/window_services.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "store/header_recoding.h"
#include "store/message_id.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>

namespace tzn {

namespace {

constexpr int kHeaderScanBlock = 4096;

constexpr MailFolder kFolders[] = {MailFolder::InBox, MailFolder::OutBox, MailFolder::Sent};

bool IsStoreFolder(MailFolder folder) {
    return folder == MailFolder::InBox || folder == MailFolder::OutBox ||
           folder == MailFolder::Sent;
}

// Received letters are kept only with IsSaveInMail, sent ones only with IsSaveOutMail.
bool RefusedBySettings(const MailSettings& settings, MailFolder folder) {
    return (folder == MailFolder::InBox && !settings.IsSaveInMail) ||
           (folder == MailFolder::Sent && !settings.IsSaveOutMail);
}

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name.find_first_of("\\/:") == std::string::npos && name != "." &&
           name != "..";
}

// A stored message begins with a header line; anything else named *.eml (an empty file, a
// stray document) is not a letter.
bool LooksLikeLetter(const TMxMessage& letter) {
    return !letter.Headers.Empty() && !letter.Headers.Name(0).empty();
}

// The header scan lists tens of thousands of letters with attachments of any size: it reads
// the file in small blocks and stops at the blank line, so a letter's body is never read.
void ReadHeaderBlockOnly(const std::string& path, TMxMessage& letter) {
    const auto native = NativePath(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec))
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    char buffer[kHeaderScanBlock];
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buffer, sizeof buffer);
    in.open(native, std::ios::binary);
    if (!in)
        throw EMxMessageCannotLoad("Cannot load message from file " + path);
    letter.Clear();
    TMxIOHandlerStreamMsg io(&in);
    io.RecvBufferSize = kHeaderScanBlock;
    ReadHeaderBlock(io, letter, "");
}

std::unique_ptr<TMxMessage> LoadFromPath(const std::string& path, bool headersOnly) {
    auto letter = std::make_unique<TMxMessage>();
    if (headersOnly) {
        letter->SetUseNowForDate(true);
        ReadHeaderBlockOnly(path, *letter);
    } else {
        ReadMessageFile(*letter, path);
    }
    if (!LooksLikeLetter(*letter))
        return nullptr;
    return letter;
}

void ScanFolders(StoredLetterListVar& list, MailFolder folder, bool headersOnly) {
    if (list)
        ClearLetterList(*list);
    const std::string mailDir = MailSettingsSnapshot().MailDir;
    for (MailFolder f : kFolders) {
        if (folder != MailFolder::All && folder != f)
            continue;
        const std::string dir = FolderPath(mailDir, f);
        const std::string letters(2, FolderLetter(f));
        for (const std::string& name : FindFiles(dir, "*.eml")) {
            try {
                auto letter = LoadFromPath(dir + name, headersOnly);
                if (!letter)
                    continue;
                RecodeMessageHeaders(*letter);
                if (!list)
                    list = std::make_unique<StoredLetterList>();
                list->Add(letters + name, std::move(letter), headersOnly);
            } catch (...) {
                // An unreadable file does not stop the listing of the others.
            }
        }
    }
}

// The move of a letter known only by its header: its file goes over byte for byte, under a
// fresh name, with the same refusals as a save.
TSaveOutcome CopyLetterFile(const std::string& fileName, MailFolder from, MailFolder to) {
    const MailSettings settings = MailSettingsSnapshot();
    if (RefusedBySettings(settings, to))
        return TSaveOutcome::Refused;
    const std::string source = FolderPath(settings.MailDir, from) + fileName;
    const auto name =
        PublishLetterFile(FolderPath(settings.MailDir, to), [&](const std::string& path) {
            if (!CopyFileTo(source, path, false))
                throw std::runtime_error("Cannot copy " + source);
        });
    return name ? TSaveOutcome::Saved : TSaveOutcome::Failed;
}

// The move of a letter whose new copy could not be written (a full disk): the file itself
// gets a name in the new folder, which takes no room, and the caller removes the old name.
TSaveOutcome LinkLetterFile(const std::string& fileName, MailFolder from, MailFolder to) {
    const std::string mailDir = MailSettingsSnapshot().MailDir;
    const std::string source = FolderPath(mailDir, from) + fileName;
    const auto name = PublishLetterFile(FolderPath(mailDir, to), [&](const std::string& path) {
        DeleteFile(path);
        std::error_code ec;
        std::filesystem::create_hard_link(NativePath(source), NativePath(path), ec);
        if (ec)
            throw std::runtime_error("Cannot link " + source + ": " + ec.message());
    });
    return name ? TSaveOutcome::Saved : TSaveOutcome::Failed;
}

} // namespace

std::optional<MailFolder> TStoredLetter::CurrentFolder() const {
    return Key.empty() ? std::nullopt : FolderFromLetter(Key[0]);
}

std::optional<MailFolder> TStoredLetter::TargetFolder() const {
    return Key.size() < 2 ? std::nullopt : FolderFromLetter(Key[1]);
}

std::string TStoredLetter::FileName() const {
    return Key.size() > 2 ? Key.substr(2) : "";
}

void TStoredLetter::SetTargetFolder(MailFolder folder) {
    if (Key.size() >= 2 && IsStoreFolder(folder))
        Key[1] = FolderLetter(folder);
}

StoredLetterList::StoredLetterList() = default;

StoredLetterList::~StoredLetterList() {
    ClearLetterList(*this);
}

void StoredLetterList::Add(std::string key, std::unique_ptr<TMxMessage> letter, bool headersOnly) {
    FEntries.push_back({std::move(key), std::move(letter), headersOnly});
}

long StoredLetterList::IndexOfKey(const std::string& key) const {
    for (size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].Key == key)
            return static_cast<long>(i);
    return -1;
}

TSaveResult SaveLetterToFolderEx(TMxMessage& letter, MailFolder folder) {
    TSaveResult result;
    if (!IsStoreFolder(folder))
        return result;
    const MailSettings settings = MailSettingsSnapshot();
    if (RefusedBySettings(settings, folder)) {
        result.Outcome = TSaveOutcome::Refused;
        return result;
    }
    // A letter resent from Sent keeps the id it was first sent with; a new one gets its own.
    if (folder == MailFolder::OutBox)
        EnsureMessageId(letter, letter.FromList.Empty() ? std::string() : letter.From().Name);
    const auto name =
        PublishLetterFile(FolderPath(settings.MailDir, folder),
                          [&](const std::string& path) { WriteMessageFile(letter, path); });
    if (name) {
        result.Outcome = TSaveOutcome::Saved;
        result.FileName = *name;
    }
    return result;
}

bool SaveLetterToFolder(TMxMessage& letter, MailFolder folder) {
    return SaveLetterToFolderEx(letter, folder).Outcome == TSaveOutcome::Saved;
}

bool DeleteLetterFile(const std::string& fileName, MailFolder folder) {
    if (!IsStoreFolder(folder) || !IsPlainFileName(fileName))
        return false;
    return DeleteFile(FolderPath(MailSettingsSnapshot().MailDir, folder) + fileName);
}

std::unique_ptr<TMxMessage> LoadLetterFile(const std::string& fileName, MailFolder folder) {
    if (!IsStoreFolder(folder) || !IsPlainFileName(fileName))
        return nullptr;
    try {
        return LoadFromPath(FolderPath(MailSettingsSnapshot().MailDir, folder) + fileName, false);
    } catch (...) {
        return nullptr;
    }
}

void LoadFolderLetters(StoredLetterListVar& list, MailFolder folder) {
    ScanFolders(list, folder, false);
}

void LoadFolderHeaders(StoredLetterListVar& list, MailFolder folder) {
    ScanFolders(list, folder, true);
}

void ApplyLetterMoves(StoredLetterListVar& list, TWindowServices& window) {
    if (list) {
        std::vector<std::pair<std::string, MailFolder>> originals;
        for (TStoredLetter& entry : *list) {
            try {
                const auto from = entry.CurrentFolder();
                const auto to = entry.TargetFolder();
                if (!from || !to || *from == *to || !entry.Letter)
                    continue;
                TSaveOutcome saved = entry.HeadersOnly
                                         ? CopyLetterFile(entry.FileName(), *from, *to)
                                         : SaveLetterToFolderEx(*entry.Letter, *to).Outcome;
                // Left in OutBox, a delivered letter would go out a second time.
                if (saved == TSaveOutcome::Failed)
                    saved = LinkLetterFile(entry.FileName(), *from, *to);
                // A letter that could not be moved to its new folder is kept where it is;
                // one the settings do not keep (sent letters with IsSaveOutMail off) goes.
                if (saved != TSaveOutcome::Failed)
                    originals.emplace_back(entry.FileName(), *from);
            } catch (...) {
            }
        }
        // In a group the new copies are on disk only after its barrier; an original removed
        // before that could leave neither copy after a power cut.
        bool durable = true;
        if (TSyncGroup* group = TSyncGroup::Current()) {
            try {
                group->Barrier();
            } catch (const std::exception&) {
                durable = false; // both copies stay; a resent letter is recognised by its peer
            }
        }
        for (const auto& [fileName, folder] : originals)
            if (durable)
                DeleteLetterFile(fileName, folder);
        ClearLetterList(*list);
        list.reset();
    }
    try {
        window.RefreshLetterList();
    } catch (...) {
        // The moves are done; a list that could not be redrawn does not undo them.
    }
}

void ClearLetterList(StoredLetterList& list) {
    while (!list.FEntries.empty())
        list.FEntries.pop_back();
}

std::vector<std::string> DropDeliveredFromOutBox() {
    namespace fs = std::filesystem;
    const std::string mailDir = MailSettingsSnapshot().MailDir;
    const auto idOf = [](const std::string& path) {
        try {
            const auto letter = LoadFromPath(path, true);
            return letter ? letter->MsgId : std::string();
        } catch (...) {
            return std::string();
        }
    };
    const std::string outBox = FolderPath(mailDir, MailFolder::OutBox);
    std::map<std::string, std::string> waiting; // Message-ID -> OutBox name
    std::optional<fs::file_time_type> oldest;
    for (const std::string& name : FindFiles(outBox, "*.eml")) {
        std::error_code ec;
        const auto written = fs::last_write_time(NativePath(outBox + name), ec);
        const std::string id = idOf(outBox + name);
        if (ec || id.empty())
            continue;
        waiting[id] = name;
        oldest = oldest ? std::min(*oldest, written) : written;
    }
    std::vector<std::string> dropped;
    if (waiting.empty())
        return dropped;
    // Only Sent copies written since the oldest waiting letter can be one of them.
    const std::string sent = FolderPath(mailDir, MailFolder::Sent);
    for (const std::string& name : FindFiles(sent, "*.eml")) {
        std::error_code ec;
        if (fs::last_write_time(NativePath(sent + name), ec) < *oldest || ec)
            continue;
        const auto it = waiting.find(idOf(sent + name));
        if (it != waiting.end() && DeleteLetterFile(it->second, MailFolder::OutBox)) {
            dropped.push_back(it->second);
            waiting.erase(it);
        }
    }
    return dropped;
}

} // namespace tzn
