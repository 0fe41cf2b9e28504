// Letter composition: the one builder of every letter the module sends. A letter names its
// addressee's station in the subject ("TZN-" + addressee name), carries this side's station
// code and working address as sender, and one data file as attachment. Letters are stored in
// OutBox and leave with the next sending run.
#pragma once

#include <memory>
#include <string>

namespace tzn {

class TMxMessage;
class TWindowServices;
struct THostStation;
struct TLocalSide;

inline constexpr const char* kSubjectPrefix = "TZN-";
inline constexpr const char* kOfficeAddressee = "Office";
// Request letters say so in a header of their own, so that the exchange ledger can tell them
// from the replies that go to a station the same way.
inline constexpr const char* kLetterKindHeader = "X-TZN-Kind";
inline constexpr const char* kRequestKind = "request";

// Builds a letter from station `stationCode` to `toName` <`toAddress`> with `attachmentPath`
// attached. The attachment
// is deleted with the letter when `attachmentTemporary` is set. With `storeInOutBox` the
// letter is saved into OutBox (its file name goes to `storedName` when given). With
// `freeAfter` the letter is destroyed before returning and nullptr is returned. Any failure
// (attachment missing or unreadable, the OutBox save failing) returns nullptr and is not
// reported; a failed save leaves a temporary attachment in place rather than losing it.
// After a letter was composed, `window` lists the letters again (whether or not it was kept).
// A `kind` (kRequestKind) is written into the letter's kLetterKindHeader.
std::unique_ptr<TMxMessage>
ComposeLetter(const std::string& toName, const std::string& toAddress,
              const std::string& attachmentPath, bool attachmentTemporary, bool freeAfter,
              bool storeInOutBox, const std::string& stationCode, TWindowServices& window,
              std::string* storedName = nullptr, const char* kind = nullptr);
// The letter (composed, or loaded from a folder) is a request letter.
bool IsRequestLetter(const TMxMessage& letter);
// The station a letter of ours is addressed to: its subject's word after "TZN-"; empty for a
// subject without it.
std::string AddresseeCode(const std::string& subject);

// Request letters (office side): the station selected in `side`'s host (GetStation 0), and
// every station the host lists (GetStation 1, 2, ... up to the first index without one).
// Failures are swallowed.
void OnCreateConfigMail(const TLocalSide& side, TWindowServices& window);
void OnCreateAllConfigMail(const TLocalSide& side, TWindowServices& window);
// The letters of one station's request; returns how many were stored.
int ComposeStationRequest(const THostStation& station, const TLocalSide& side,
                          TWindowServices& window);

// Report letters (station side) of station `stationCode` for a prepared data file: one to the
// working address and, with UseAddictionAddress on, one to every additional address, all
// named "Office". The data file is left for the caller to delete. Returns how many letters
// were stored.
int ComposeReportLetters(const std::string& dataFile, const std::string& stationCode,
                         TWindowServices& window);

// The reply of station `stationCode` to a received data file: to the working address, named
// after the sender's station, the reply file attached as temporary. True when the letter was
// stored.
bool ComposeReplyLetter(const std::string& senderCode, const std::string& replyFile,
                        const std::string& stationCode, TWindowServices& window);

} // namespace tzn
