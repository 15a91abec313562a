#include "server/mail/textes_reponse.h"

#include "server/mail/commande_citee.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString texte_acceptation(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("a bien été lancée par l'automate");
}

QString texte_refus(const QString &commande)
{
    return QStringLiteral(" L'action demandée") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a pas été comprise par l'automate") + kCrLf +
           QStringLiteral("vérifiez vos fichiers de clefs ou faites une synchronisation");
}

QString texte_interrompu(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a peut-être pas été lancée par l'automate") +
           QStringLiteral(" (arrêt du serveur pendant son traitement)");
}

QString texte_echec(const QString &commande, qint32 resultat)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a pas pu être lancée par l'automate") + QStringLiteral(" (Erreur ") +
           QString::number(resultat) + u')';
}
