// The body of a command mail: the command name and the code it carries.
#include "common/command_mail.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString corps = QString::fromUtf8(fuzz::octets(data, size));
    const ParametresCommande p = extract_param(corps);
    // Both values are taken from the body itself.
    if (p.ok && (p.commande.size() > corps.size() || p.code.size() > corps.size()))
        __builtin_trap();
    (void)est_objet_commande(corps);
    return 0;
}
