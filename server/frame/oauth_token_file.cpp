#include "server/frame/oauth_token_file.h"

#include "common/durable_file.h"
#include "platform/droits_fichier.h"
#include "server/frame/oauth_settings.h"

#include <QFile>

bool JetonsOAuth2::acces_valide(const QDateTime &maintenant, qint64 marge_secondes) const
{
    return !access_token.isEmpty() && expiration.isValid() &&
           maintenant.secsTo(expiration) >= marge_secondes;
}

namespace fichier_jeton {

QString chemin(const QString &rep_appli)
{
    return rep_appli + QStringView(oauth2::kFichierJeton).toString();
}

std::optional<JetonsOAuth2> lire(const QString &path, QString *erreur)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) && platform::existe(path)) {
        // The sign-in was made; the file is only out of this user's reach.
        if (erreur)
            *erreur = QStringLiteral("jeton_oauth2.dat illisible (%1) : %2 ; le serveur tourne "
                                     "sous l'utilisateur %3 : donnez-lui le fichier (chown %3 %2)")
                          .arg(platform::proprietaire_et_droits(path), path,
                               platform::utilisateur_courant());
        return std::nullopt;
    }
    if (!file.isOpen()) {
        if (erreur)
            *erreur = QStringLiteral("pas de jeton OAuth2 (") + path +
                      QStringLiteral(") : lancez d'abord la connexion OAuth2 "
                                     "(tramelon --folder DOSSIER --connexion-oauth2)");
        return std::nullopt;
    }
    JetonsOAuth2 jetons;
    const QList<QByteArray> lignes = file.readAll().split('\n');
    for (const QByteArray &brute : lignes) {
        const QByteArray ligne = brute.trimmed();
        const qsizetype egal = ligne.indexOf('=');
        if (egal <= 0)
            continue;
        const QByteArray cle = ligne.left(egal);
        const QString valeur = QString::fromUtf8(ligne.mid(egal + 1));
        if (cle == "refresh_token")
            jetons.refresh_token = valeur;
        else if (cle == "access_token")
            jetons.access_token = valeur;
        else if (cle == "expiration")
            jetons.expiration = QDateTime::fromSecsSinceEpoch(valeur.toLongLong(), Qt::UTC);
    }
    if (jetons.refresh_token.isEmpty()) {
        if (erreur)
            *erreur = QStringLiteral("le fichier ") + path +
                      QStringLiteral(" ne contient pas de jeton de renouvellement : relancez la "
                                     "connexion OAuth2");
        return std::nullopt;
    }
    return jetons;
}

bool ecrire(const QString &path, const JetonsOAuth2 &jetons, QString *erreur)
{
    QByteArray contenu = "refresh_token=" + jetons.refresh_token.toUtf8() + '\n';
    if (!jetons.access_token.isEmpty() && jetons.expiration.isValid())
        contenu += "access_token=" + jetons.access_token.toUtf8() +
                   "\nexpiration=" + QByteArray::number(jetons.expiration.toSecsSinceEpoch()) +
                   '\n';
    // Owner-only whatever the operator did to the former file: it is a credential.
    return durable::remplacer(path, contenu, erreur, durable::kProprietaireSeul);
}

} // namespace fichier_jeton
