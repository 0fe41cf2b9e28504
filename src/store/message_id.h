// Message-IDs of the letters this module writes. A letter whose end-of-data answer was lost is
// sent again, and its receiver tells the second copy from a new letter only by this id: it is
// given once, when the letter is made, and travels unchanged with every retry. A letter the
// user sends again on purpose (moved back from Sent) is a new letter and gets a new id.
#pragma once

#include <string>

namespace tzn {

class TMxMessage;

// A new id "<yyyymmddhhnnss.pid.counter.random@domain>"; `domain` is reduced to the
// characters an id may hold, "tznmail" when nothing is left.
std::string NewMessageId(const std::string& domain);

// Makes sure the letter is written with a Message-ID: one it has is kept, else it gets a new
// one named after the working address's domain (else `stationCode`).
void EnsureMessageId(TMxMessage& letter, const std::string& stationCode);

// A new id for a letter of this side, named as EnsureMessageId names it.
std::string NewLetterMessageId(const std::string& stationCode);

// The stored letter's text with its Message-ID header (with any continuation lines) replaced
// by `id`, or one added at the end of the header block when it had none.
std::string ReplaceMessageId(const std::string& storedText, const std::string& id);

// Gives the stored letter at `path` a new Message-ID (named as EnsureMessageId names it); the
// file is replaced in one step (a reader sees the old or the new letter, never a part). Throws
// std::runtime_error naming the path and the reason.
void RenewMessageId(const std::string& path, const std::string& stationCode);

} // namespace tzn
