#include "session/letter_size.h"

#include "mail/io_handler.h"
#include "mail/message.h"
#include "mail/message_writer.h"

namespace tzn {
namespace {

// Accepts every write and keeps only its length.
class TMxIOHandlerCounting : public TMxIOHandler {
public:
    TMxIOHandlerCounting() { MarkOpened(); }
    bool Connected() const override { return true; }
    int64_t Count() const { return FCount; }

protected:
    int RecvBytes(char*, int, int) override { return 0; }
    size_t SendSome(const char*, size_t size) override {
        FCount += static_cast<int64_t>(size);
        return size;
    }
    void CloseSource() override {}

private:
    int64_t FCount = 0;
};

} // namespace

int64_t MeasureLetter(TMxMessage& letter, const TMxWriteOptions& options) {
    TMxIOHandlerCounting sink;
    TransmitMessage(sink, letter, options);
    sink.WriteLine(".");
    return sink.Count();
}

} // namespace tzn
