// The letter text after DATA as the socket sees it: few large writes, the end-of-data line
// with the last one, nothing lost or repeated when the socket takes less than it is given,
// and one gathering buffer serving letter after letter.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mail/codecs.h"
#include "mail/message.h"
#include "mail/message_writer.h"
#include "mail/smtp_data_sink.h"

namespace tzn {
namespace {

// A connection's handler that keeps what each write call handed it, and takes at most
// `FTake` bytes per call (0: all), as a socket with a full send buffer does.
class RecordingTarget : public TMxIOHandler {
public:
    explicit RecordingTarget(size_t take = 0) : FTake(take) { MarkOpened(); }
    bool Connected() const override { return true; }

    std::vector<std::string> Writes;
    std::string All() const {
        std::string s;
        for (const auto& w : Writes)
            s += w;
        return s;
    }

protected:
    int RecvBytes(char*, int, int) override { return 0; }
    size_t SendSome(const char* data, size_t size) override {
        const size_t n = FTake ? std::min(size, FTake) : size;
        Writes.emplace_back(data, n);
        return n;
    }
    size_t SendSomeGathered(std::string_view head, std::string_view tail) override {
        std::string both = std::string(head) + std::string(tail);
        return SendSome(both.data(), both.size());
    }
    void CloseSource() override {}

private:
    size_t FTake;
};

std::string RandomFile(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    std::string path = testing::TempDir() + "smtp_data_" + std::to_string(seed) + ".bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The letter's text as WriteMessageData sends it: the writer into the sink, the end-of-data
// line, the last flush.
void SendLetter(TMxIOHandler& target, std::string& pending, TMxMessage& m) {
    TMxSMTPDataSink sink(target, pending);
    TransmitMessage(sink, m);
    sink.WriteLine(".");
    sink.Flush();
}

// The attachment's bytes, decoded from the base64 lines that follow its part headers.
std::string AttachmentIn(const std::string& text) {
    size_t at = text.find("Content-Disposition: attachment");
    at = text.find("\r\n\r\n", at) + 4;
    std::string encoded;
    for (size_t eol; (eol = text.find("\r\n", at)) != std::string::npos; at = eol + 2) {
        std::string line = text.substr(at, eol - at);
        if (line.empty() || line.rfind("--", 0) == 0)
            break;
        encoded += line;
    }
    return DecodeBase64(encoded);
}

TEST(SmtpData, LetterGoesOutInLargeWritesEndingWithTheEndOfDataLine) {
    const size_t chunk = TMxSMTPDataSink::kDefaultChunkSize;
    std::string pending;
    const std::string files[] = {RandomFile(200 * 1024, 1), RandomFile(70 * 1024, 2)};
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        TMxMessage m;
        m.From().Address = "from@x.test";
        m.Recipients.SetEMailAddresses("to@x.test");
        m.Subject = "TZN-Office";
        m.Body = {"report attached"};
        m.MessageParts.AddAttachment(file);
        RecordingTarget socket;
        SendLetter(socket, pending, m);

        const std::string text = socket.All();
        ASSERT_GE(socket.Writes.size(), 2u);
        for (size_t i = 0; i + 1 < socket.Writes.size(); ++i)
            EXPECT_GE(socket.Writes[i].size(), chunk) << "write " << i;
        EXPECT_LE(socket.Writes.size(), text.size() / chunk + 1);
        const std::string& last = socket.Writes.back();
        ASSERT_GE(last.size(), 5u);
        EXPECT_EQ(last.substr(last.size() - 5), "\r\n.\r\n");
        EXPECT_EQ(text.find("\r\n.\r\n"), text.size() - 5) << "one end-of-data line only";
        EXPECT_EQ(text.rfind("From: ", 0), 0u) << "nothing left over from the letter before";
        EXPECT_EQ(AttachmentIn(text), ReadFile(file));
        // The gathering buffer never grew past one piece, so the next letter reuses it.
        EXPECT_LT(pending.capacity(), 2 * chunk);
        std::remove(file.c_str());
    }
}

TEST(SmtpData, SocketTakingLessThanGivenLosesNothing) {
    const std::string file = RandomFile(150 * 1024, 3);
    TMxMessage m;
    m.From().Address = "from@x.test";
    m.Recipients.SetEMailAddresses("to@x.test");
    m.MessageParts.AddAttachment(file);
    std::string pending;
    RecordingTarget whole, trickle(1000);
    SendLetter(whole, pending, m);
    SendLetter(trickle, pending, m);
    EXPECT_GT(trickle.Writes.size(), whole.All().size() / 1000);
    EXPECT_EQ(AttachmentIn(trickle.All()), ReadFile(file));
    EXPECT_EQ(trickle.All().size(), whole.All().size());
    std::remove(file.c_str());
}

} // namespace
} // namespace tzn
