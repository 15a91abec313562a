#include "server/mail/politique_expediteurs.h"

#include "server/mail/liste_expediteurs.h"
#include "server/mail/verdict_dmarc.h"

QString refus_expediteur(const ReglesExpediteurs &regles, const Pop3Message &mail)
{
    const ListeExpediteurs liste(regles.autorises);
    if (!liste.vide() && !liste.autorise(mail.Sender.Address))
        return QStringLiteral("expéditeur non autorisé");
    if (regles.dmarc_exige()) {
        const VerdictDmarc verdict = juge_dmarc(mail.AuthenticationResults, mail.FromDomain,
                                                regles.serveur_authentification);
        if (!verdict.authentifie)
            return QStringLiteral("expéditeur non authentifié (") + verdict.detail + u')';
    }
    return {};
}
