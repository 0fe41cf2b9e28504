// The table of part coders by name. Built once; lookups never change it, so threads may
// share it freely.
#include <map>
#include <ostream>

#include "mail/codecs.h"
#include "mail/exceptions.h"
#include "platform/cp1251.h"

namespace tzn {

namespace {

struct TMxCoderEntry {
    std::unique_ptr<TMxPartEncoder> (*MakeEncoder)();
    std::unique_ptr<TMxPartDecoder> (*MakeDecoder)(TMxByteSink&);
};

template <class E> std::unique_ptr<TMxPartEncoder> Make() {
    return std::make_unique<E>();
}
template <class D> std::unique_ptr<TMxPartDecoder> MakeD(TMxByteSink& s) {
    return std::make_unique<D>(s);
}

const std::map<std::string, TMxCoderEntry>& Registry() {
    static const std::map<std::string, TMxCoderEntry> table = {
        {"MIME", {&Make<TMxEncoderMIME>, &MakeD<TMxDecoderMIME>}},
        {"UUE", {&Make<TMxEncoderUUE>, &MakeD<TMxDecoderUUE>}},
        {"XXE", {&Make<TMxEncoderXXE>, &MakeD<TMxDecoderXXE>}},
        {"QP", {&Make<TMxEncoderQuotedPrintable>, &MakeD<TMxDecoderQuotedPrintable>}},
    };
    return table;
}

const TMxCoderEntry* Find(std::string_view name) {
    auto it = Registry().find(AnsiUpperCase(name));
    return it == Registry().end() ? nullptr : &it->second;
}

} // namespace

void RegisterMessageCoders() {
    (void)Registry();
}

bool MessageCoderExists(std::string_view name) {
    return Find(name) != nullptr;
}

std::unique_ptr<TMxPartEncoder> CreateMessageEncoder(std::string_view name) {
    const TMxCoderEntry* e = Find(name);
    return e ? e->MakeEncoder() : nullptr;
}

std::unique_ptr<TMxPartDecoder> CreateMessageDecoder(std::string_view name, TMxByteSink& sink) {
    const TMxCoderEntry* e = Find(name);
    return e ? e->MakeDecoder(sink) : nullptr;
}

void TMxStreamSink::Write(std::string_view bytes) {
    FTarget.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!FTarget)
        throw EMxException("Error writing decoded data.");
}

} // namespace tzn
