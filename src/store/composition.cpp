#include "store/composition.h"

#include "mail/message.h"
#include "module/settings.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/paths.h"
#include "store/local_side.h"
#include "store/mail_store.h"
#include "store/message_id.h"
#include "tznmail/host.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace tzn {

namespace {

void CheckReadable(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (path.empty() || !in)
        throw std::runtime_error("Cannot read attachment file " + path);
}

// A letter that could not be composed must not take its attachment with it: a request or
// reply file stays where it was instead of being lost.
void KeepAttachments(TMxMessage& letter) {
    for (size_t i = 0; i < letter.MessageParts.Count(); ++i)
        if (TMxAttachmentFile* a = letter.MessageParts[i].AsAttachment())
            a->FileIsTemporary = false;
}

bool Compose(const std::string& toName, const std::string& toAddress, const std::string& file,
             bool temporary, const std::string& stationCode, TWindowServices& window,
             const char* kind = nullptr) {
    std::string stored;
    ComposeLetter(toName, toAddress, file, temporary, true, true, stationCode, window, &stored,
                  kind);
    return !stored.empty();
}

// A letter list that cannot be refreshed is no reason to fail the letter.
void RefreshQuietly(TWindowServices& window) {
    try {
        window.RefreshLetterList();
    } catch (...) {
    }
}

} // namespace

bool IsRequestLetter(const TMxMessage& letter) {
    for (const TMxHeaderList* headers : {&letter.Headers, &letter.ExtraHeaders}) {
        const long i = headers->IndexOfName(kLetterKindHeader);
        if (i >= 0 && AnsiSameText(headers->ValueFromIndex(static_cast<size_t>(i)), kRequestKind))
            return true;
    }
    return false;
}

std::string AddresseeCode(const std::string& subject) {
    const size_t prefix = std::strlen(kSubjectPrefix);
    if (subject.size() <= prefix || !AnsiSameText(subject.substr(0, prefix), kSubjectPrefix))
        return {};
    const size_t end = subject.find_first_of(" \t", prefix);
    return subject.substr(prefix, end == std::string::npos ? std::string::npos : end - prefix);
}

std::unique_ptr<TMxMessage> ComposeLetter(const std::string& toName, const std::string& toAddress,
                                          const std::string& attachmentPath,
                                          bool attachmentTemporary, bool freeAfter,
                                          bool storeInOutBox, const std::string& stationCode,
                                          TWindowServices& window, std::string* storedName,
                                          const char* kind) {
    if (storedName)
        storedName->clear();
    std::unique_ptr<TMxMessage> letter;
    try {
        const MailSettings settings = MailSettingsSnapshot();
        letter = std::make_unique<TMxMessage>();
        letter->From() = TMxEMailAddressItem(stationCode, settings.EMail);
        letter->Sender = TMxEMailAddressItem(stationCode, settings.EMail);
        letter->SetUseNowForDate(true);
        letter->Recipients.Add(TMxEMailAddressItem(toName, toAddress));
        letter->Subject = std::string(kSubjectPrefix) + toName;
        EnsureMessageId(*letter, stationCode);
        if (kind)
            letter->ExtraHeaders.Add(std::string(kLetterKindHeader) + ": " + kind);

        CheckReadable(attachmentPath);
        TMxAttachmentFile& part = letter->MessageParts.AddAttachment(attachmentPath);
        part.FileIsTemporary = attachmentTemporary;
        letter->MessageParts.CountParts();

        if (storeInOutBox) {
            const TSaveResult saved = SaveLetterToFolderEx(*letter, MailFolder::OutBox);
            if (saved.Outcome != TSaveOutcome::Saved)
                throw std::runtime_error("The letter could not be stored in OutBox");
            if (storedName)
                *storedName = saved.FileName;
        }
        if (freeAfter)
            letter.reset();
    } catch (...) {
        if (letter)
            KeepAttachments(*letter);
        return nullptr;
    }
    RefreshQuietly(window);
    return letter;
}

int ComposeStationRequest(const THostStation& station, const TLocalSide& side,
                          TWindowServices& window) {
    THostServices* host = side.Host;
    if (!host)
        return 0;
    const std::string file = host->MakeStationRequestFile(station.Key);
    if (file.empty())
        return 0;
    const std::string code = station.Code.empty() ? station.Key : station.Code;
    const MailSettings settings = MailSettingsSnapshot();
    const std::string firstExtra = settings.MailAddictionAdressList.empty()
                                       ? std::string()
                                       : settings.MailAddictionAdressList.front();
    // With the additional-address option on but no address listed, the request goes to the
    // working address alone, as with the option off: skipping it would leave the station
    // without its request.
    const bool useExtra = settings.UseAddictionAddress && !firstExtra.empty();
    int stored = 0;
    if (!useExtra)
        return Compose(code, settings.EMail, file, true, side.StationCode, window, kRequestKind)
                   ? 1
                   : 0;
    if (!settings.NotUseWorkAddres)
        stored += Compose(code, settings.EMail, file, false, side.StationCode, window, kRequestKind)
                      ? 1
                      : 0;
    // The last letter takes the request file with it.
    stored += Compose(code, firstExtra, file, true, side.StationCode, window, kRequestKind) ? 1 : 0;
    return stored;
}

void OnCreateConfigMail(const TLocalSide& side, TWindowServices& window) {
    try {
        if (THostServices* host = side.Host)
            if (const auto station = host->GetStation(0))
                ComposeStationRequest(*station, side, window);
    } catch (...) {
        // The host answers a failed request with no letter; Compose logs its own failures.
    }
}

void OnCreateAllConfigMail(const TLocalSide& side, TWindowServices& window) {
    try {
        THostServices* host = side.Host;
        if (!host)
            return;
        for (int index = 1;; ++index) {
            const auto station = host->GetStation(index);
            if (!station)
                break;
            try {
                ComposeStationRequest(*station, side, window);
            } catch (...) {
                // One station's failure does not end the run for the others.
            }
        }
    } catch (...) {
        // The host's list of stations failed: the requests made so far stand.
    }
}

int ComposeReportLetters(const std::string& dataFile, const std::string& stationCode,
                         TWindowServices& window) {
    const MailSettings settings = MailSettingsSnapshot();
    int count =
        Compose(kOfficeAddressee, settings.EMail, dataFile, false, stationCode, window) ? 1 : 0;
    if (settings.UseAddictionAddress)
        for (const std::string& address : settings.MailAddictionAdressList)
            count +=
                Compose(kOfficeAddressee, address, dataFile, false, stationCode, window) ? 1 : 0;
    return count;
}

bool ComposeReplyLetter(const std::string& senderCode, const std::string& replyFile,
                        const std::string& stationCode, TWindowServices& window) {
    return Compose(senderCode, MailSettingsSnapshot().EMail, replyFile, true, stationCode, window);
}

} // namespace tzn
