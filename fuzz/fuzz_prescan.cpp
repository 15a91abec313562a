// A fetched mail read exactly as the bounded reader reads it: the pre-scan,
// then vmime's parse of what the pre-scan lets through, or the header block
// alone of what it sets aside.
#include "fuzz/fuzz_input.h"
#include "server/vmime/mail_file_reader.h"
#include "server/vmime/mail_limits.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray octets = fuzz::octets(data, size);
    QBuffer tampon(&octets);
    tampon.open(QIODevice::ReadOnly);
    if (const std::optional<QByteArray> entete = mail_limits::entete(tampon);
        entete && entete->size() > mail_limits::kTailleEntetes + 2)
        __builtin_trap(); // the block handed on never exceeds the bound
    (void)read_mail_file(fuzz::fichier(data, size, "message.eml"));
    return 0;
}
