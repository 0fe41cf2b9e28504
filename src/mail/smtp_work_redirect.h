// While a proxy handler (the SMTP data sink, the POP3 answer reader) reports the bytes of a
// transfer to the client, the connection's own handler must not report the same bytes again:
// its work target is set aside for the scope.
#pragma once

#include "mail/component.h"

namespace tzn {

class TMxWorkRedirect {
public:
    TMxWorkRedirect(TMxComponent& c, TMxComponent* target) : FC(c), FOld(c.WorkTarget) {
        FC.WorkTarget = target;
    }
    ~TMxWorkRedirect() { FC.WorkTarget = FOld; }
    TMxWorkRedirect(const TMxWorkRedirect&) = delete;
    TMxWorkRedirect& operator=(const TMxWorkRedirect&) = delete;

private:
    TMxComponent& FC;
    TMxComponent* FOld;
};

} // namespace tzn
