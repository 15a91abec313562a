// A From, Sender or Return-Path header value: the one mailbox a reply may go to.
#include "fuzz/fuzz_input.h"
#include "server/mail/sender_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SenderAddress adresse = sender_address(fuzz::octets(data, size));
    if (!adresse.isValid())
        return 0;
    // A reply's envelope is written from this text: no line break nor control
    // character may reach it, and it splits again into a local part and a domain.
    for (const QChar c : adresse.address)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            __builtin_trap();
    const AddrSpecParts parties = split_addr_spec(adresse.address);
    if (parties.domain.isEmpty())
        __builtin_trap();
    return 0;
}
