#include "mail/component.h"

namespace tzn {

void TMxComponent::BeginWork(TMxWorkMode mode, int64_t maximum) {
    if (WorkTarget) {
        WorkTarget->BeginWork(mode, maximum);
        return;
    }
    TMxWorkState& w = FWork[static_cast<int>(mode)];
    if (++w.Level == 1) {
        w.Count = 0;
        w.Max = maximum;
        if (OnWorkBegin)
            OnWorkBegin(*this, mode, maximum);
    }
}

void TMxComponent::DoWork(TMxWorkMode mode, int64_t count) {
    if (WorkTarget) {
        WorkTarget->DoWork(mode, count);
        return;
    }
    TMxWorkState& w = FWork[static_cast<int>(mode)];
    if (w.Level < 1)
        return;
    w.Count += count;
    if (OnWork)
        OnWork(*this, mode, w.Count);
}

void TMxComponent::EndWork(TMxWorkMode mode) {
    if (WorkTarget) {
        WorkTarget->EndWork(mode);
        return;
    }
    TMxWorkState& w = FWork[static_cast<int>(mode)];
    if (w.Level < 1)
        return;
    if (w.Level == 1 && OnWorkEnd)
        OnWorkEnd(*this, mode);
    --w.Level;
}

void TMxComponent::DoStatus(TMxStatus status, const std::string& text) {
    if (OnStatus)
        OnStatus(*this, status, text);
}

} // namespace tzn
