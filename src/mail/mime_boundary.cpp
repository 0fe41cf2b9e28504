#include "mail/mime_boundary.h"

#include <random>
#include <string_view>

namespace tzn {

namespace {

constexpr std::string_view kBoundaryChars =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::mt19937& Random() {
    thread_local std::mt19937 gen(std::random_device{}());
    return gen;
}

char RandomBoundaryChar() {
    std::uniform_int_distribution<size_t> pick(0, kBoundaryChars.size() - 1);
    return kBoundaryChars[pick(Random())];
}

std::string MakeBoundary() {
    std::string b(34, ' ');
    for (char& c : b)
        c = RandomBoundaryChar();
    std::uniform_int_distribution<size_t> pos(1, 33); // counted from 1
    size_t p = pos(Random()) - 1;
    b[p] = '=';
    b[p + 1] = '_';
    return b;
}

} // namespace

const std::string& ProcessBoundary() {
    // Made once; every letter of the process carries the same boundary.
    static const std::string boundary = MakeBoundary();
    return boundary;
}

std::string NestedBoundary(const std::string& outer) {
    return outer + RandomBoundaryChar();
}

const std::string& TMxMIMEBoundary::Boundary() const {
    static const std::string none;
    return FStack.empty() ? none : FStack.back().Boundary;
}

} // namespace tzn
