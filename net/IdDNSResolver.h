#pragma once
// DNS resolver component. TODO: only a placeholder so far.

class TIdDNSResolver {
public:
    TIdDNSResolver() = default;
    virtual ~TIdDNSResolver() = default;
};
