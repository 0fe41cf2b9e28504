// MIME boundaries: the stack of multiparts a reader or writer is inside, and the boundary
// texts this process writes.
#pragma once

#include <string>
#include <vector>

namespace tzn {

// Boundaries of the multiparts being written or read, innermost last; each remembers the
// index of the part that opened it (-1 = the letter itself).
class TMxMIMEBoundary {
public:
    struct TMxBoundaryEntry {
        std::string Boundary;
        int ParentPart = -1;
    };
    void Push(std::string boundary, int parentPart) {
        FStack.push_back({std::move(boundary), parentPart});
    }
    void Pop() {
        if (!FStack.empty())
            FStack.pop_back();
    }
    void Clear() { FStack.clear(); }
    size_t Count() const { return FStack.size(); }
    bool Empty() const { return FStack.empty(); }
    const std::string& Boundary() const; // the innermost, or empty
    int ParentPart() const { return FStack.empty() ? -1 : FStack.back().ParentPart; }
    const TMxBoundaryEntry& operator[](size_t i) const { return FStack[i]; } // 0 = outermost

private:
    std::vector<TMxBoundaryEntry> FStack;
};

// The process-wide MIME boundary: made on first use, the same for every letter afterwards.
const std::string& ProcessBoundary();
// A boundary for a multipart nested in one using `outer`: one more random character.
std::string NestedBoundary(const std::string& outer);

} // namespace tzn
