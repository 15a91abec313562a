#include "server/mail/textes_reponse.h"

#include "server/frame/journal.h"
#include "server/mail/commande_citee.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// The command comes from the mail: whatever it holds, it stays on its own line
// of the text, so the journal keeps it as one line too, and it is cut short, so
// that no mail can use the replies to relay a message.
QString ligne(const QString &commande) { return commande_citee(journal::sur_une_ligne(commande)); }
} // namespace

QString texte_acceptation(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + ligne(commande) + kCrLf +
           QStringLiteral("a bien été lancée par l'automate");
}

QString texte_refus(const QString &commande)
{
    return QStringLiteral(" L'action demandée") + kCrLf + ligne(commande) + kCrLf +
           QStringLiteral("n'a pas été comprise par l'automate") + kCrLf +
           QStringLiteral("vérifiez vos fichiers de clefs ou faites une synchronisation");
}

QString texte_interrompu(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + ligne(commande) + kCrLf +
           QStringLiteral("n'a peut-être pas été lancée par l'automate") +
           QStringLiteral(" (arrêt du serveur pendant son traitement)");
}

QString texte_echec(const QString &commande, qint32 resultat)
{
    return QStringLiteral(" La commande : ") + kCrLf + ligne(commande) + kCrLf +
           QStringLiteral("n'a pas pu être lancée par l'automate") + QStringLiteral(" (Erreur ") +
           QString::number(resultat) + u')';
}
