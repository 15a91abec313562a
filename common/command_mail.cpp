#include "common/command_mail.h"

#include "common/blancs.h"

namespace {

// The value of a field: from just after the marker to the ";" searched from the
// second character after the marker, so a value is never empty before trimming.
bool lire_champ(const QString &tt, QStringView marker, QString &value)
{
    const qsizetype start = tt.indexOf(marker);
    if (start < 0)
        return false;
    const qsizetype valueStart = start + marker.size();
    const qsizetype end = tt.indexOf(u';', valueStart + 1);
    if (end < 0)
        return false;
    value = enleve_blancs(tt.mid(valueStart, end - valueStart));
    return true;
}

} // namespace

ParametresCommande extract_param(const QString &tt)
{
    ParametresCommande p;
    if (!lire_champ(tt, u"Commande:", p.commande))
        return p;
    if (!lire_champ(tt, u"Code:", p.code))
        return p;
    p.ok = true;
    return p;
}

QString compose_message_commande(const QString &commande, const QString &clef)
{
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Bonjour,    ") + crlf + crlf + QStringLiteral("Commande:") + commande +
           u';' + crlf + QStringLiteral("Code:") + clef + u';' + crlf + crlf +
           QStringLiteral("Au revoir ") + crlf + crlf +
           QStringLiteral("Rappel : l'objet  du message doit être :  Actions");
}

bool est_objet_commande(const QString &subject)
{
    return enleve_blancs(subject) == QStringView(kObjetCommande);
}
