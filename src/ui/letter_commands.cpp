#include "ui/letter_commands.h"

#include "mail/message.h"
#include "module/activity_log.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "store/letter_processing.h"
#include "store/mail_store.h"
#include "store/message_id.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace tzn {

bool MoveLetterToOutBox(const std::string& fileName, MailFolder from,
                        const std::string& stationCode) {
    if (fileName.empty() || fileName.find_first_of("\\/") != std::string::npos)
        return false;
    const std::string mailDir = MailSettingsSnapshot().MailDir;
    const std::string source = FolderPath(mailDir, from) + fileName;
    // Sent again on purpose, the letter is a new one: its receiver must not take it for the
    // copy it has already processed. The id is renewed where the letter lies, so OutBox never
    // holds a half-written file; a failure leaves the letter where it was.
    try {
        RenewMessageId(source, stationCode);
    } catch (const std::exception&) {
        return false;
    }
    const std::string outBox = FolderPath(mailDir, MailFolder::OutBox);
    switch (MoveFileNoReplace(source, outBox + fileName)) {
    case TMoveResult::Done:
        return true;
    case TMoveResult::Failed:
        return false;
    case TMoveResult::Taken:
        break;
    }
    // The name is taken in OutBox: the letter goes in beside it under a name of its own.
    const auto published = PublishLetterFile(outBox, [&](const std::string& temp) {
        if (!CopyFileTo(source, temp, false))
            throw std::runtime_error("cannot copy " + source);
    });
    return published && DeleteFile(source);
}

void OrderGroupByDate(std::vector<std::size_t>& group,
                      const std::vector<TProcessCandidate>& selected) {
    std::stable_sort(group.begin(), group.end(), [&](std::size_t a, std::size_t b) {
        return selected[a].Date > selected[b].Date;
    });
}

std::vector<std::vector<std::size_t>>
ProcessingGroups(const std::vector<TProcessCandidate>& selected) {
    std::vector<std::size_t> order(selected.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<std::string> keys;
    keys.reserve(selected.size());
    for (const auto& c : selected)
        keys.push_back(AnsiUpperCase(c.Sender));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i : order) {
        if (groups.empty() || selected[groups.back().front()].Sender != selected[i].Sender)
            groups.emplace_back();
        groups.back().push_back(i);
    }
    for (auto& group : groups)
        OrderGroupByDate(group, selected);
    return groups;
}

void ProcessInBoxLetters(const std::vector<std::string>& names, const TLocalSide& side,
                         TWindowServices& services) {
    if (names.size() == 1) {
        try {
            if (auto letter = LoadLetterFile(names.front(), MailFolder::InBox))
                ProcessReceivedLetter(*letter, side, services);
        } catch (const std::exception& e) {
            WriteActivityLog(e.what());
        }
        return;
    }
    if (names.size() < 2)
        return;
    std::vector<TProcessCandidate> selected;
    try {
        StoredLetterListVar headers;
        LoadFolderHeaders(headers, MailFolder::InBox);
        const char inbox = FolderLetter(MailFolder::InBox);
        for (const std::string& name : names) {
            // The row's own file name finds its letter, even if the folder changed since the
            // list was filled.
            TProcessCandidate c;
            c.FileName = name;
            const long at = headers ? headers->IndexOfKey(std::string{inbox, inbox} + name) : -1;
            if (at >= 0) {
                TMxMessage& letter = *(*headers)[static_cast<size_t>(at)].Letter;
                c.Sender = letter.From().Text();
                c.Date = letter.Date;
            }
            selected.push_back(std::move(c));
        }
    } catch (const std::exception& e) {
        WriteActivityLog(e.what());
        return;
    }
    for (const auto& group : ProcessingGroups(selected)) {
        try {
            for (size_t i : group) {
                const std::string& name = selected[i].FileName;
                if (auto letter = LoadLetterFile(name, MailFolder::InBox)) {
                    ProcessReceivedLetter(*letter, side, services);
                    letter.reset();
                    // A log that cannot be written must not keep the rest of the group
                    // from the host.
                    try {
                        WriteActivityLog(name);
                    } catch (...) { // NOLINT(bugprone-empty-catch)
                    }
                }
            }
        } catch (const std::exception& e) {
            try {
                WriteActivityLog(e.what());
            } catch (...) { // NOLINT(bugprone-empty-catch): the next group still runs
            }
        }
    }
}

} // namespace tzn
