// The exchange ledger: what came from and went to each station, kept in the mail folder apart
// from the letters, so that the history outlives their deletion from InBox. Sessions append a
// record per letter received or delivered; the office also notes the host's list of stations
// whenever it changes, so a reader without the host (the administrator's tool) knows them too.
// One record per line, appended with one write; old records are dropped by a rewrite done
// beside the file and renamed over it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tzn {

// The file's name inside the mail folder.
inline constexpr const char* kLedgerFileName = "Exchange.ledger";
// Records older than this are dropped by a rewrite; the rewrite waits until the oldest record
// is a month past it, so it runs about once a month and not at every session.
inline constexpr int kLedgerRetentionDays = 400;
inline constexpr int kLedgerRewriteSlackDays = 31;

enum class TLedgerKind : char {
    Received = 'R', // a letter from that station, taken by a session
    Sent = 'S',     // a letter to that station, delivered by a session
    Station = 'N',  // one station of the host's list; a list's records are numbered from 0 in
                    // Files, written at once
};

struct TLedgerRecord {
    std::time_t Time = 0;
    TLedgerKind Kind = TLedgerKind::Received;
    std::string Code;     // the other side's station code (CP1251)
    int Files = 0;        // data files the letter carried
    int Imported = 0;     // of them, those the host took without failing (received letters)
    bool Request = false; // a request letter
    std::string MessageId;
    std::string Text; // the subject; a station's name in Station records
};

// A record as one line (no line break) and back; nothing for a line that is not one.
std::string FormatLedgerRecord(const TLedgerRecord& record);
std::optional<TLedgerRecord> ParseLedgerRecord(std::string_view line);

class TExchangeLedger {
public:
    // The ledger of the mail folder `mailDir` (Windows form or native).
    explicit TExchangeLedger(const std::string& mailDir);
    const std::string& FileName() const { return FFileName; }

    // Appends the records with one write, so a reader or a crash never sees half of them
    // (a torn tail left by a crash is closed off first). Throws std::runtime_error naming the
    // file and the reason.
    void Append(const std::vector<TLedgerRecord>& records) const;
    void Append(const TLedgerRecord& record) const { Append(std::vector<TLedgerRecord>{record}); }
    // Every well-formed record in file order; a missing file is an empty ledger, a line that
    // is not a record is skipped. Throws when the file exists but cannot be read.
    std::vector<TLedgerRecord> Load() const;
    // When the oldest record is past the retention and its slack, rewrites the file without
    // the records older than the retention (the latest station list is kept whatever its age).
    // True when it rewrote. Throws as Append; the old file then stays as it was.
    bool Prune(std::time_t now) const;

private:
    std::string FFileName;
};

// The host's station list as the ledger last noted it, in the host's order.
struct TListedStation {
    std::string Code;
    std::string Name;
    bool operator==(const TListedStation&) const = default;
};
std::vector<TListedStation> LatestStationList(const std::vector<TLedgerRecord>& records);
// The records that note `stations` at `now`.
std::vector<TLedgerRecord> StationListRecords(const std::vector<TListedStation>& stations,
                                              std::time_t now);

} // namespace tzn
