// Message-IDs of the letters this module writes. A letter whose end-of-data answer was lost is
// sent again, and its receiver tells the second copy from a new letter only by this id: it is
// given once, when the letter is made, and travels unchanged with every resend.
#pragma once

#include <string>

namespace tzn {

class TMxMessage;

// A new id "<yyyymmddhhnnss.pid.counter.random@domain>"; `domain` is reduced to the
// characters an id may hold, "tznmail" when nothing is left.
std::string NewMessageId(const std::string& domain);

// Makes sure the letter is written with a Message-ID: one it has is kept, else it gets a new
// one named after the working address's domain (else the station code).
void EnsureMessageId(TMxMessage& letter);

} // namespace tzn
