#include "server/core/oauth/oauth_serveur.h"

#include "server/core/oauth/oauth_jeton.h"
#include "server/core/oauth/pop3_oauth2.h"
#include "server/core/oauth/smtp_oauth2.h"
#include "server/core/serveur.h"
#include "server/frame/signalement.h"

ComposantsMail avec_oauth2(SourceJeton &source, std::unique_ptr<Pop3Session> session,
                           std::unique_ptr<SmtpSender> smtp)
{
    return {std::make_unique<Pop3OAuth2>(std::move(session), source),
            std::make_unique<SmtpOAuth2>(std::move(smtp), source)};
}

void arret_sur_revocation(Serveur &serveur, SourceJeton &source)
{
    source.sur_revocation = [&serveur](const QString &texte) {
        serveur.T_sequenceur().stop();
        Signalement(serveur.state(), serveur.affichage(), horloge_systeme()).erreur(texte);
    };
}
