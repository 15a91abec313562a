#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// jeton_oauth2.dat in the server folder: the refresh token that the sign-in
// obtained, and the access token in use with its expiry. Readable and writable
// by its owner only, replaced whole and synced at every change, so that a
// rotated refresh token is never lost to a crash. Never copied into pop3.ini
// nor into any log.
struct JetonsOAuth2 {
    QString refresh_token;
    QString access_token; // may be empty
    QDateTime expiration; // UTC; when the access token stops being accepted

    // The access token may be used as is when it remains valid that long.
    bool acces_valide(const QDateTime &maintenant, qint64 marge_secondes) const;
};

namespace fichier_jeton {

QString chemin(const QString &rep_appli);

// Nothing when the file is missing or holds no refresh token; erreur says why.
std::optional<JetonsOAuth2> lire(const QString &path, QString *erreur = nullptr);

// False, with erreur set and the former file whole, when it could not be written.
[[nodiscard]] bool ecrire(const QString &path, const JetonsOAuth2 &jetons,
                          QString *erreur = nullptr);

} // namespace fichier_jeton
