// Base of the mail layer's objects that report progress: connection status notices and
// work events (bytes read or written during one transfer).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tzn {

class TMxComponent;

enum class TMxStatus { Resolving, Connecting, Connected, Disconnecting, Disconnected, Text };
enum class TMxWorkMode { Read = 0, Write = 1 };

using TMxStatusEvent =
    std::function<void(TMxComponent& sender, TMxStatus status, const std::string& text)>;
using TMxWorkBeginEvent =
    std::function<void(TMxComponent& sender, TMxWorkMode mode, int64_t maximum)>;
using TMxWorkEvent = std::function<void(TMxComponent& sender, TMxWorkMode mode, int64_t count)>;
using TMxWorkEndEvent = std::function<void(TMxComponent& sender, TMxWorkMode mode)>;

class TMxComponent {
public:
    TMxComponent() = default;
    virtual ~TMxComponent() = default;
    TMxComponent(const TMxComponent&) = delete;
    TMxComponent& operator=(const TMxComponent&) = delete;

    TMxStatusEvent OnStatus;
    TMxWorkBeginEvent OnWorkBegin;
    TMxWorkEvent OnWork;
    TMxWorkEndEvent OnWorkEnd;

    // When set, work events are handed to this component instead (an I/O handler forwards
    // to the connection that owns it, so the client raises them).
    TMxComponent* WorkTarget = nullptr;

    // Nesting-aware work reporting: OnWorkBegin fires only when the mode's level goes from
    // 0 to 1 (count reset, maximum stored); DoWork adds to the running count and fires
    // OnWork while the level is at least 1; OnWorkEnd fires when the level leaves 1.
    void BeginWork(TMxWorkMode mode, int64_t maximum = 0);
    void DoWork(TMxWorkMode mode, int64_t count);
    void EndWork(TMxWorkMode mode);

    int WorkLevel(TMxWorkMode mode) const { return FWork[static_cast<int>(mode)].Level; }
    int64_t WorkCount(TMxWorkMode mode) const { return FWork[static_cast<int>(mode)].Count; }
    int64_t WorkMax(TMxWorkMode mode) const { return FWork[static_cast<int>(mode)].Max; }

    // Raises OnStatus; `text` is the notice already formatted ("Connecting to %s.").
    void DoStatus(TMxStatus status, const std::string& text);

private:
    struct TMxWorkState {
        int Level = 0;
        int64_t Count = 0;
        int64_t Max = 0;
    };
    TMxWorkState FWork[2];
};

// Begins work in the constructor and ends it in the destructor, also when an exception
// leaves the bracketed transfer.
class TMxWorkScope {
public:
    TMxWorkScope(TMxComponent& c, TMxWorkMode mode, int64_t maximum = 0) : FC(c), FMode(mode) {
        FC.BeginWork(mode, maximum);
    }
    ~TMxWorkScope() { FC.EndWork(FMode); }
    TMxWorkScope(const TMxWorkScope&) = delete;
    TMxWorkScope& operator=(const TMxWorkScope&) = delete;

private:
    TMxComponent& FC;
    TMxWorkMode FMode;
};

} // namespace tzn
