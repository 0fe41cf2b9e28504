// Full sessions of a station and of the office through fault proxies in front of the real
// server, with the letter accounting checked after the faulty session and again after a
// clean follow-up: no letter lost, none doubled, every data file imported exactly once.
#pragma once

#include "fault_proxy.h"
#include "integration/session_fixture.h"

#include <functional>
#include <optional>
#include <string>

namespace tzn::test {

// One side of the exchange in a scenario: whose mailbox the session empties, where its
// outgoing letter (the station's report, the office's reply) is delivered.
struct TExchangeSide {
    bool Office = false;
    size_t Box = 0;  // the session's account; one letter for it is deposited per round
    size_t Peer = 0; // receives the side's outgoing letter
};

class SessionFaults : public SessionFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Station: code 12, sorted retrieval, a report waiting in OutBox. Office: plain
    // retrieval, imports with the sender's code, a reply per imported file.
    void UseSide(const TExchangeSide& side);
    // One round: a fresh letter on the server (and a report in OutBox on the station side),
    // a session with `plan` armed on `faulty` (none: a clean session), the accounting, a
    // clean follow-up session and the accounting again. `doubled`: the server takes the
    // letter while the client never hears so, and the follow-up sends it again; the peer
    // then imports it once all the same.
    void Round(const std::string& what, TFaultProxy* faulty, const TFaultPlan& plan,
               bool doubled = false);
    // A round whose fault lies outside the network: `inject` runs once the letters are in
    // place, before the session; `repair` after it, before the follow-up.
    void LocalRound(const std::string& what, const std::function<void()>& inject,
                    const std::function<void()>& repair);
    // The commands of the last round's first session, as seen by the proxy of each protocol.
    std::vector<TFaultCommand> PopCommands() const { return FPopCommands; }
    std::vector<TFaultCommand> SmtpCommands() const { return FSmtpCommands; }

    // How often the host was handed a data file with this content.
    size_t Imported(const std::string& data);
    // Empties the store's three folders, so each round counts its own letters.
    void ClearStore();

    std::optional<TFaultProxy> FPop, FSmtp;
    TExchangeSide FSide;
    int FRound = 0;
    std::vector<std::string> FLastLines; // the faulty session's lines
    std::vector<TFaultCommand> FPopCommands, FSmtpCommands;

private:
    // The side's outgoing letter of this round, with `data` attached: what the peer imports.
    void OutgoingData(const std::string& subject, const std::string& data);
    // The peer's session on its mailbox, holding two copies of the letter carrying `data`:
    // one import, one InBox copy, both copies gone from the server.
    void PeerImportsOnce(const std::string& data);
    void RunRound(const std::string& what, TFaultProxy* faulty, const TFaultPlan& plan,
                  bool doubled, const std::function<void()>& inject,
                  const std::function<void()>& repair);
};

} // namespace tzn::test
