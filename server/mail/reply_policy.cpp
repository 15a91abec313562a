#include "server/mail/reply_policy.h"

#include "server/mail/sender_address.h"

QString raison_sans_reponse(const Pop3Message &mail, const QString &adresse_reponse)
{
    const QString prefix = QStringLiteral("Pas de réponse : ");
    if (mail.Sender.Address.isEmpty())
        return prefix + (mail.NoAddressReason.isEmpty()
                             ? QStringLiteral("aucune adresse d'expéditeur")
                             : mail.NoAddressReason);
    if (mail.Automatic)
        return prefix + QStringLiteral("courrier automatique (") + mail.AutomaticReason + u')';
    // Read the setting the same way as a sender, so that quoting and case do not hide it.
    const QString own = sender_address(adresse_reponse.trimmed().toUtf8()).address;
    if (!own.isEmpty() && own.compare(mail.Sender.Address, Qt::CaseInsensitive) == 0)
        return prefix + QStringLiteral("le message vient de l'adresse de réponse du serveur (") +
               own + u')';
    return {};
}
