// The client side of bench/mail_roundtrip.py: delivers letters with one attachment over one
// SMTP connection, or fetches a whole mailbox over one POP3 connection, and prints the time
// the protocol work took. The script runs Python's smtplib/poplib on the same server in the
// same run and reports the ratios. Each mode prints its time, then its peak memory.
//
//   bench_mail_roundtrip send COUNT FILE [--no-pipelining]
//   bench_mail_roundtrip fetch
//   bench_mail_roundtrip baseline
// Server and account: TZN_BENCH_HOST, TZN_SMTP_PORT, TZN_POP3_PORT, TZN_BENCH_USER,
// TZN_BENCH_PASS, TZN_BENCH_TO. With TZN_BENCH_TLS=1 both clients speak TLS from the first
// byte to TZN_SMTPS_PORT / TZN_POP3S_PORT, trusting TZN_CA_FILE.
#include "bench_util.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "mail/pop3.h"
#include "mail/smtp.h"

using tzn::bench::Env;
using tzn::bench::PeakKiB;

namespace {

// Implicit TLS when asked for; returns the port to use.
template <typename Client>
uint16_t Secure(Client& c, const char* plainPort, const char* tlsPort, const char* fallback) {
    if (Env("TZN_BENCH_TLS") != "1")
        return static_cast<uint16_t>(std::atoi(Env(plainPort, fallback).c_str()));
    c.UseTLS.Mode = tzn::TMxTLSMode::Implicit;
    c.UseTLS.CAFile = Env("TZN_CA_FILE");
    return static_cast<uint16_t>(std::atoi(Env(tlsPort).c_str()));
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Send(int count, const std::string& file, bool pipelining) {
    tzn::TMxSMTP smtp;
    smtp.Host = Env("TZN_BENCH_HOST", "127.0.0.1");
    smtp.Port = Secure(smtp, "TZN_SMTP_PORT", "TZN_SMTPS_PORT", "2525");
    smtp.Username = Env("TZN_BENCH_USER");
    smtp.Password = Env("TZN_BENCH_PASS");
    smtp.PipeLine = pipelining;
    smtp.ReadTimeout = 120000;
    const std::string from = Env("TZN_BENCH_FROM", Env("TZN_BENCH_TO").c_str());
    smtp.WriteOptions.EncodeHeaderWords = false; // as a delivery run sends
    const auto start = std::chrono::steady_clock::now();
    smtp.ConnectToServer();
    for (int i = 0; i < count; ++i) {
        tzn::TMxMessage m;
        m.From().Address = from;
        m.From().Name = "Bench";
        m.Recipients.SetEMailAddresses(Env("TZN_BENCH_TO"));
        m.Subject = "TZN-Office bench " + std::to_string(i + 1);
        m.MessageParts.AddAttachment(file);
        smtp.SendMail(m);
    }
    smtp.CloseConnection();
    std::printf("%.6f %ld\n", Seconds(start), PeakKiB());
    return 0;
}

int Fetch() {
    tzn::TMxPOP3 pop;
    pop.Host = Env("TZN_BENCH_HOST", "127.0.0.1");
    pop.Port = Secure(pop, "TZN_POP3_PORT", "TZN_POP3S_PORT", "2110");
    pop.Username = Env("TZN_BENCH_USER");
    pop.Password = Env("TZN_BENCH_PASS");
    pop.ReadTimeout = 120000;
    const auto start = std::chrono::steady_clock::now();
    pop.ConnectToServer();
    const int n = pop.MessageCount();
    long long bytes = 0;
    for (int i = 1; i <= n; ++i) {
        tzn::TMxMessage m;
        if (!pop.FetchMessage(i, m)) {
            std::fprintf(stderr, "RETR %d refused\n", i);
            return 1;
        }
        for (size_t p = 0; p < m.MessageParts.Count(); ++p)
            if (auto* a = m.MessageParts[p].AsAttachment())
                bytes += a->ContentSize();
    }
    pop.CloseConnection();
    std::printf("%.6f %d %lld %ld\n", Seconds(start), n, bytes, PeakKiB());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "send" && argc >= 4)
            return Send(std::atoi(argv[2]), argv[3],
                        !(argc > 4 && std::string(argv[4]) == "--no-pipelining"));
        if (mode == "fetch")
            return Fetch();
        if (mode == "baseline") {
            tzn::TMxSMTP smtp;
            tzn::TMxPOP3 pop;
            std::printf("0 %ld\n", PeakKiB());
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_mail_roundtrip: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_mail_roundtrip send COUNT FILE [--no-pipelining] | "
                         "fetch | baseline\n");
    return 2;
}
