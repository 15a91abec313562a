#include "server/frame/oauth_settings.h"

#include "common/blancs.h"
#include "platform/private_profile.h"

#include <QUrl>

namespace oauth2 {

namespace {

// URLs and scope lists are longer than the other settings.
constexpr int kTailleLecture = 1024;

QString lire(const QString &section, const QString &key, const QString &file)
{
    QString value =
        platform::GetPrivateProfileString(section, key, QString(), kTailleLecture, file);
    const qsizetype nul = value.indexOf(QChar(u'\0'));
    if (nul >= 0)
        value.truncate(nul);
    return enleve_blancs(value);
}

void prereglages(Reglages &r)
{
    switch (r.fournisseur) {
    case Fournisseur::Microsoft:
        r.url_appareil =
            QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/devicecode");
        r.url_jeton = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
        r.url_autorisation =
            QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
        r.portee = QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All "
                                  "https://outlook.office.com/SMTP.Send offline_access");
        return;
    case Fournisseur::Google:
        r.url_appareil = QStringLiteral("https://oauth2.googleapis.com/device/code");
        r.url_jeton = QStringLiteral("https://oauth2.googleapis.com/token");
        r.url_autorisation = QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
        r.portee = QStringLiteral("https://mail.google.com/");
        return;
    case Fournisseur::Autre:
        return;
    }
}

// 127.0.0.0/8, ::1 or localhost.
bool est_boucle_locale(const QString &hote)
{
    if (hote == u"localhost" || hote == u"::1")
        return true;
    const QStringList octets = hote.split(u'.');
    if (octets.size() != 4 || octets.first() != u"127")
        return false;
    for (const QString &octet : octets) {
        bool ok = false;
        const int n = octet.toInt(&ok);
        if (!ok || n < 0 || n > 255)
            return false;
    }
    return true;
}

} // namespace

Reglages lire_reglages(const QString &fichier_ini)
{
    Reglages r;
    r.actif = lire(QStringLiteral("mail"), QStringLiteral("connexion"), fichier_ini) ==
              QStringView(kConnexionOAuth2);
    r.login = lire(QStringLiteral("mail"), QStringLiteral("login"), fichier_ini);
    const QString fournisseur =
        lire(QStringLiteral("oauth2"), QStringLiteral("fournisseur"), fichier_ini);
    if (fournisseur == u"microsoft")
        r.fournisseur = Fournisseur::Microsoft;
    else if (fournisseur == u"google")
        r.fournisseur = Fournisseur::Google;
    prereglages(r);

    const QString section = QStringLiteral("oauth2");
    r.client_id = lire(section, QStringLiteral("client_id"), fichier_ini);
    r.client_secret = lire(section, QStringLiteral("client_secret"), fichier_ini);
    const auto remplace = [&](QString &champ, const char *key) {
        const QString value = lire(section, QString::fromLatin1(key), fichier_ini);
        if (!value.isEmpty())
            champ = value;
    };
    remplace(r.url_appareil, "url_appareil");
    remplace(r.url_jeton, "url_jeton");
    remplace(r.url_autorisation, "url_autorisation");
    remplace(r.portee, "portee");
    return r;
}

QString verifie_url(const QString &url)
{
    const QUrl u(url, QUrl::StrictMode);
    if (url.isEmpty() || !u.isValid() || u.host().isEmpty())
        return QStringLiteral("adresse OAuth2 manquante ou invalide : ") + url;
    if (u.scheme() == u"https")
        return {};
    // Tokens travel in clear over http: only to this machine.
    if (u.scheme() == u"http" && est_boucle_locale(u.host()))
        return {};
    return QStringLiteral("adresse OAuth2 refusée (https:// exigé, http:// seulement vers "
                          "cette machine) : ") +
           url;
}

QString verifie(const Reglages &reglages)
{
    if (reglages.client_id.isEmpty())
        return QStringLiteral("client_id manquant dans la section [oauth2] de pop3.ini");
    if (reglages.login.isEmpty())
        return QStringLiteral("login (l'adresse de la boîte) manquant dans pop3.ini");
    if (const QString e = verifie_url(reglages.url_jeton); !e.isEmpty())
        return e;
    return verifie_url(reglages.par_navigateur() ? reglages.url_autorisation
                                                 : reglages.url_appareil);
}

} // namespace oauth2
