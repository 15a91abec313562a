// An Authentication-Results field as a receiving server (or a sender posing
// as one) writes it.
#include "fuzz/fuzz_input.h"
#include "server/mail/resultats_authentification.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ResultatsAuthentification r = lire_resultats_authentification(fuzz::octets(data, size));
    // An unreadable field carries no result that could be trusted.
    if (!r.lisible && !r.resultats.isEmpty())
        __builtin_trap();
    for (const ResultatMethode &m : r.resultats)
        (void)m.propriete(QStringLiteral("header.from"));
    return 0;
}
