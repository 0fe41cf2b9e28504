// TMxPOP3: reads and deletes the letters of one POP3 mailbox. Connecting also logs on;
// deletions take effect only when the connection is closed with QUIT.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message.h"
#include "mail/smtp_base.h"
#include "mail/tcp_client.h"

namespace tzn {

enum class TMxPOP3AuthType { UserPass, APOP, SASL };

// "TOP" commands a header scan keeps in flight on a server that offers PIPELINING: enough to
// hide the round trips of a slow line, few enough that the commands fit any socket buffer.
inline constexpr size_t kMxPOP3PipelineWindow = 32;

// Letters sent for ahead of their turn (RetrieveAhead) wait in memory when a deletion is read
// from behind them; a larger letter is not sent for early.
inline constexpr int64_t kMxPOP3ReadAheadLetterBytes = 4 * 1024 * 1024;

class TMxPOP3 : public TMxTCPClient {
public:
    TMxPOP3();
    ~TMxPOP3() override;

    std::string Username;
    std::string Password;
    bool AutoLogin = true;
    TMxPOP3AuthType AuthType = TMxPOP3AuthType::UserPass;
    TMxSASLEntries SASLMechanisms;

    // From the greeting: "<...>" of its first line, empty when there is none.
    const std::string& APOPTimestamp() const { return FTimestamp; }
    bool HasAPOPTimestamp() const { return !FTimestamp.empty(); }
    // The lines of the CAPA answer; empty when the server refused CAPA.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    bool HasCapabilities() const { return !FCapabilities.empty(); }
    bool HasCapability(const std::string& keyword) const; // a whole line, case-insensitive
    // The server takes several commands before answering the first (RFC 2449).
    bool HasPipelining() const { return HasCapability("PIPELINING"); }
    // The server refused "TOP" on this connection where "RETR" worked: headers come from
    // "RETR", the rest of each letter read and dropped.
    bool TopMissing() const { return FTop == TMxTopState::Missing; }

    // Connects, reads the "+OK" greeting and the capabilities, with UseTLS asking for it
    // STLS and the capabilities again over TLS, and logs on when AutoLogin.
    // Any failure after the socket opened closes the connection (QUIT when possible) before
    // the error reaches the caller.
    void ConnectToServer() override;
    // USER/PASS (or APOP); a failure closes the connection with QUIT, then raises. A server
    // offering UTF8 is first switched to it (RFC 6856: in this state only); a refusal is no
    // failure.
    void LogOn();

    // STAT: the number of letters in the mailbox. A count above kMxPOP3MaxMessages raises
    // EMxPOP3ProtocolError.
    int MessageCount();
    // LIST n: the size of letter n in bytes; -1 when the answer holds no number.
    int64_t MessageSize(int n);
    // LIST: the size of every letter by its number in one answer; -1 for a size that is no
    // number. False (nothing raised) when the server refuses. A listing past
    // kMxPOP3MaxMessages lines, numbering a letter twice or beyond the mailbox raises
    // EMxPOP3ProtocolError and closes the connection.
    bool MessageSizes(std::map<int, int64_t>& sizes);
    // TOP n 0: clears `msg` and fills its header fields. True unless an error is raised.
    // A server refusing TOP where RETR works gives the header from RETR (see TopMissing).
    bool FetchHeader(int n, TMxMessage& msg);
    // The headers of the letters `nums`, in that order, each handed to `each` in one reused
    // letter, so one header at a time is in memory. A letter the server refuses, or whose
    // header cannot be read, comes with `error` set and the scan goes on; a failure of the
    // connection raises. With PIPELINING the "TOP" commands go out kMxPOP3PipelineWindow at a
    // time. When `each` raises, the answers still under way are read and dropped (or the
    // connection closed) before the error goes on.
    void FetchHeaders(
        const std::vector<int>& nums,
        const std::function<void(int n, TMxMessage& header, const std::exception* error)>& each);
    // RETR n: clears `msg` and reads the whole letter, attachments held or decoded into
    // temporary files as they arrive. False (nothing raised) when the server refuses. With
    // PIPELINING and `nextLetter` > 0, that letter is sent for as RetrieveAhead does before
    // this one's answer is read.
    bool FetchMessage(int n, TMxMessage& msg, int nextLetter = 0, bool nextSize = false);
    // RETR n as it is on the server: each line of the letter, without its line break and with
    // the stuffing dot of a ".." line removed, to `each`, streaming. False (nothing raised)
    // when the server refuses. Lines past kMxMaxBodyLineLength raise EMxLimitExceeded.
    bool RetrieveRaw(int n, const std::function<void(std::string_view line)>& each);
    // With PIPELINING, "LIST n" (when `withSize`) and "RETR n" go out now, so that the server
    // readies letter n while this side still works on the one before; MessageSize and
    // FetchMessage take their answers. Only a letter the server lists (one "LIST", asked the
    // first time) as at most kMxPOP3ReadAheadLetterBytes is sent for: a DeleteMessage asked
    // meanwhile reads its own answer from behind the letter's, which waits in memory. False
    // when nothing was sent.
    bool RetrieveAhead(int n, bool withSize);
    // DELE n: marks letter n deleted; a refusal raises EMxReplyPOP3Error. With PIPELINING and
    // `nextLetter` > 0, "LIST nextLetter" (when `nextSize`) and "RETR nextLetter" go out with
    // it, so the server prepares the next letter while this side finishes the last; their
    // answers are read by the MessageSize / FetchMessage that ask for them next, and dropped
    // by any other command asked first.
    bool DeleteMessage(int n, int nextLetter = 0, bool nextSize = false);
    // UIDL: the unique id of every letter by its number. False (nothing raised) when the
    // server does not offer the command. Bounded as MessageSizes.
    bool UniqueIds(std::map<int, std::string>& ids);

protected:
    void DisconnectNotifyPeer() override; // QUIT expecting "+OK"

private:
    enum class TMxTopState { Unknown, Works, Missing };

    void ReadCapabilities();
    bool HasCapabilityWord(const std::string& keyword) const; // first word of a line
    // Sends `command` and reads the first line of its answer strictly (see ReadStatus).
    TMxReplyCode Command(const std::string& command);
    // As Transact, but takes the answer of `command` when it was sent ahead (DeleteMessage).
    TMxReplyCode Ask(const std::string& command, const TMxReplyCodes& allowed = {});
    // Reads and drops the answers of commands sent ahead (FAhead) that nobody asked for, a
    // letter or a header to its end; closes the connection when that fails.
    void DropAhead();
    // One "LIST" into FSizes, the first time it is asked while no answer is under way.
    void ListSizesOnce();
    // `first` (unless empty), then "LIST n" (when `withSize`) and "RETR n" sent ahead, in one
    // write; FAhead must be empty.
    void SendWithLetter(const std::string& first, int n, bool withSize);
    // Where the answers of the commands sent ahead end in the unread input; they stay there.
    size_t AheadAnswersEnd();
    // Where the answer that starts `from` bytes into the unread input ends, reading until it
    // is all there; its status line into `status`. Multi-line when `multiLine` and "+OK".
    size_t BufferedAnswerEnd(size_t from, bool multiLine, std::string& status);
    // Closes without QUIT and raises EMxPOP3ProtocolError quoting `line`, which stands where
    // the answer to a command was due.
    [[noreturn]] void RaiseOutOfStep(std::string_view line);
    // The first line of an answer into LastReply. Anything but "+OK" / "-ERR" raises
    // EMxPOP3ProtocolError and closes the connection: later answers would be misread.
    TMxReplyCode ReadStatus();
    // Reads a multi-line answer with `read`, then drops what it left, at most `skipLimit`
    // bytes. A failed read still drops the rest so the connection stays in step; where that
    // is impossible the connection is closed and the read's error raised.
    template <typename Fn> void ReadAnswerInto(Fn&& read, size_t skipLimit);
    // Lines of a listing up to ".", each "<number> <rest>" handed to `entry`, which returns
    // false for a number already listed. Lines of another shape are skipped.
    template <typename Fn> void ReadListing(const char* command, Fn&& entry);
    void ReadTopAnswer(TMxMessage& msg);
    // RETR n: the header into `msg`, the rest of the letter dropped. False when refused.
    bool HeaderFromRetr(int n, TMxMessage& msg);
    // One header by TOP, falling back to RETR while TOP is not known to work; raises.
    void FetchHeaderLockStep(int n, TMxMessage& msg);
    // Closes without QUIT and drops what was received but not read: the conversation is out
    // of step, and a farewell would read stale lines as its answer.
    void CloseDiscardingInput();

    std::string FTimestamp;
    std::vector<std::string> FCapabilities;
    TMxTopState FTop = TMxTopState::Unknown;
    // Letters are numbered 1..FHighestNumber (STAT count plus those deleted since log-on);
    // -1 before the first STAT.
    int FHighestNumber = -1;
    int FDeleted = 0;
    std::deque<std::string> FAhead; // commands sent ahead whose answers are still unread
    bool FAheadKept = false;        // their answers may wait in memory (RetrieveAhead)
    // The sizes the server listed, once asked for a letter sent for ahead (empty when it refused).
    std::optional<std::map<int, int64_t>> FSizes;
};

// The lower-case hexadecimal MD5 digest APOP sends: of timestamp + password.
std::string ApopDigest(const std::string& timestamp, const std::string& password);
// The APOP timestamp in a greeting line: from the first "<" through the next ">".
std::string ApopTimestampOf(const std::string& greeting);

} // namespace tzn
