#include "server/core/oauth/connexion_oauth2.h"

#include "server/core/oauth/oauth_jeton.h"
#include "server/frame/oauth_token_file.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonValue>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

#include <unistd.h>

namespace {

constexpr int kPasLent = 5000; // RFC 8628: slow_down adds five seconds
constexpr qsizetype kTailleRequeteMax = 8192;

QByteArray aleatoire_base64url(int octets)
{
    QByteArray bytes(octets, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString texte(const QJsonObject &objet, const char *cle)
{
    return objet.value(QLatin1String(cle)).toString();
}

// A terminal shows the address as a QR code too, for a telephone to read,
// when the qrencode program is there to draw it.
void afficher_qr_code(const QString &adresse)
{
    const QString qrencode = QStandardPaths::findExecutable(QStringLiteral("qrencode"));
    if (qrencode.isEmpty() || !::isatty(STDOUT_FILENO))
        return;
    QProcess dessin;
    dessin.start(qrencode, {QStringLiteral("-t"), QStringLiteral("UTF8"), QStringLiteral("-m"),
                            QStringLiteral("2"), adresse});
    if (dessin.waitForFinished(5000) && dessin.exitCode() == 0)
        std::fputs(dessin.readAllStandardOutput().constData(), stdout);
}

} // namespace

ConnexionOAuth2::ConnexionOAuth2(const QString &rep_appli, QObject *parent)
    : QObject(parent), m_rep_appli(rep_appli)
{
    m_attente.setSingleShot(true);
    connect(&m_attente, &QTimer::timeout, this, &ConnexionOAuth2::interroger);
}

ConnexionOAuth2::~ConnexionOAuth2() = default;

QByteArray ConnexionOAuth2::defi_pkce(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

void ConnexionOAuth2::demarrer()
{
    m_reglages = oauth2::lire_reglages(m_rep_appli + QStringLiteral("pop3.ini"));
    if (const QString erreur = oauth2::verifie(m_reglages); !erreur.isEmpty()) {
        finir(false, erreur);
        return;
    }
    if (m_reglages.par_navigateur())
        demarrer_navigateur();
    else
        demarrer_appareil();
}

void ConnexionOAuth2::annuler() { finir(false, QStringLiteral("connexion OAuth2 abandonnée")); }

void ConnexionOAuth2::finir(bool reussi, const QString &message)
{
    if (m_fini)
        return;
    m_fini = true;
    m_attente.stop();
    if (m_ecoute)
        m_ecoute->close();
    m_client.annuler();
    Q_EMIT termine(reussi, message);
}

void ConnexionOAuth2::enregistrer(const QJsonObject &reponse)
{
    JetonsOAuth2 jetons;
    if (!prendre_jetons(reponse, QDateTime::currentDateTimeUtc(), jetons)) {
        finir(false, QStringLiteral("le fournisseur OAuth2 n'a pas donné de jeton d'accès"));
        return;
    }
    if (jetons.refresh_token.isEmpty()) {
        finir(false, QStringLiteral("le fournisseur OAuth2 n'a pas donné de jeton de "
                                    "renouvellement (portée offline_access manquante ?)"));
        return;
    }
    const QString fichier = fichier_jeton::chemin(m_rep_appli);
    QString erreur;
    if (!fichier_jeton::ecrire(fichier, jetons, &erreur)) {
        finir(false, erreur);
        return;
    }
    finir(true, QStringLiteral("connexion OAuth2 établie pour ") + m_reglages.login +
                    QStringLiteral(" : jeton enregistré dans ") + fichier);
}

// --- Device flow ---------------------------------------------------------

void ConnexionOAuth2::demarrer_appareil()
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.portee.isEmpty())
        form.addQueryItem(QStringLiteral("scope"), m_reglages.portee);
    m_client.poster(QUrl(m_reglages.url_appareil), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue != ReponseOAuth2::Issue::Succes) {
            finir(false, r.description);
            return;
        }
        m_device_code = texte(r.corps, "device_code");
        const QString code = texte(r.corps, "user_code");
        // Google names it verification_url.
        QString adresse = texte(r.corps, "verification_uri");
        if (adresse.isEmpty())
            adresse = texte(r.corps, "verification_url");
        if (m_device_code.isEmpty() || code.isEmpty() || adresse.isEmpty()) {
            finir(false, QStringLiteral("réponse incomplète du fournisseur OAuth2 (code "
                                        "d'appareil)"));
            return;
        }
        const int intervalle = r.corps.value(QStringLiteral("interval")).toInt(5);
        m_intervalle_ms = qBound(1, intervalle, 60) * 1000;
        const int duree = r.corps.value(QStringLiteral("expires_in")).toInt(900);
        m_expiration.setRemainingTime(qint64(qBound(1, duree, 3600)) * 1000);
        Q_EMIT code_appareil(adresse, code, texte(r.corps, "verification_uri_complete"));
        m_attente.start(m_intervalle_ms);
    });
}

void ConnexionOAuth2::interroger()
{
    if (m_fini)
        return;
    if (m_expiration.hasExpired()) {
        finir(false, QStringLiteral("le code a expiré avant l'autorisation : relancez la "
                                    "connexion"));
        return;
    }
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"),
                      QStringLiteral("urn:ietf:params:oauth:grant-type:device_code"));
    form.addQueryItem(QStringLiteral("device_code"), m_device_code);
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.client_secret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), m_reglages.client_secret);
    m_client.poster(QUrl(m_reglages.url_jeton), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue == ReponseOAuth2::Issue::Succes) {
            enregistrer(r.corps);
        } else if (r.erreur == QLatin1String("authorization_pending")) {
            m_attente.start(m_intervalle_ms);
        } else if (r.erreur == QLatin1String("slow_down")) {
            m_intervalle_ms += kPasLent;
            m_attente.start(m_intervalle_ms);
        } else if (r.erreur == QLatin1String("access_denied")) {
            finir(false, QStringLiteral("l'autorisation a été refusée"));
        } else if (r.erreur == QLatin1String("expired_token")) {
            finir(false, QStringLiteral("le code a expiré avant l'autorisation : relancez la "
                                        "connexion"));
        } else {
            finir(false, r.description);
        }
    });
}

// --- Browser flow with PKCE ----------------------------------------------

void ConnexionOAuth2::demarrer_navigateur()
{
    m_ecoute = new QTcpServer(this);
    if (!m_ecoute->listen(QHostAddress::LocalHost, 0)) {
        finir(false,
              QStringLiteral("impossible d'écouter sur 127.0.0.1 : ") + m_ecoute->errorString());
        return;
    }
    connect(m_ecoute, &QTcpServer::newConnection, this, &ConnexionOAuth2::retour_navigateur);
    m_verifier = aleatoire_base64url(48);
    m_etat = QString::fromLatin1(aleatoire_base64url(16));
    m_redirection = QStringLiteral("http://127.0.0.1:%1/").arg(m_ecoute->serverPort());

    QUrl url(m_reglages.url_autorisation);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    query.addQueryItem(QStringLiteral("redirect_uri"), m_redirection);
    query.addQueryItem(QStringLiteral("scope"), m_reglages.portee);
    query.addQueryItem(QStringLiteral("state"), m_etat);
    query.addQueryItem(QStringLiteral("code_challenge"),
                       QString::fromLatin1(defi_pkce(m_verifier)));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    // Google gives a refresh token only with these.
    query.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    query.addQueryItem(QStringLiteral("login_hint"), m_reglages.login);
    url.setQuery(query);
    Q_EMIT adresse_navigateur(url.toString(QUrl::FullyEncoded));
}

void ConnexionOAuth2::retour_navigateur()
{
    while (QTcpSocket *socket = m_ecoute->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // The request line is all that matters: "GET /?code=...&state=... HTTP/1.1".
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kTailleRequeteMax)
                    socket->abort();
                return;
            }
            const QList<QByteArray> mots = socket->readLine(kTailleRequeteMax).split(' ');
            const QUrl cible(QString::fromLatin1(mots.value(1)));
            const QUrlQuery query(cible);
            const bool reponse =
                cible.path() == u"/" && (query.hasQueryItem(QStringLiteral("code")) ||
                                         query.hasQueryItem(QStringLiteral("error")));
            const QByteArray page =
                reponse ? QByteArrayLiteral("<!DOCTYPE html><meta charset=\"utf-8\"><p>Tramelon : "
                                            "vous pouvez fermer cette page.</p>")
                        : QByteArray();
            socket->write((reponse ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                          QByteArrayLiteral("Content-Type: text/html; charset=utf-8\r\n"
                                            "Connection: close\r\nContent-Length: ") +
                          QByteArray::number(page.size()) + "\r\n\r\n" + page);
            socket->disconnectFromHost();
            if (!reponse || m_fini)
                return;
            if (query.queryItemValue(QStringLiteral("state")) != m_etat) {
                finir(false, QStringLiteral("réponse du navigateur sans le bon état : ignorée, "
                                            "relancez la connexion"));
                return;
            }
            if (query.hasQueryItem(QStringLiteral("error"))) {
                finir(false, QStringLiteral("l'autorisation a été refusée : ") +
                                 query.queryItemValue(QStringLiteral("error")));
                return;
            }
            m_ecoute->close();
            echanger_code(query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
        });
    }
}

void ConnexionOAuth2::echanger_code(const QString &code)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("redirect_uri"), m_redirection);
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.client_secret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), m_reglages.client_secret);
    form.addQueryItem(QStringLiteral("code_verifier"), QString::fromLatin1(m_verifier));
    m_client.poster(QUrl(m_reglages.url_jeton), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue == ReponseOAuth2::Issue::Succes)
            enregistrer(r.corps);
        else
            finir(false, r.description);
    });
}

// --- From a terminal -----------------------------------------------------

int connexion_oauth2_terminal(const QString &rep_appli)
{
    ConnexionOAuth2 connexion(rep_appli);
    QObject::connect(&connexion, &ConnexionOAuth2::code_appareil, &connexion,
                     [](const QString &adresse, const QString &code, const QString &complete) {
                         std::printf("Pour autoriser Tramelon à relever la boîte, ouvrez dans un "
                                     "navigateur :\n  %s\net saisissez le code : %s\n",
                                     qPrintable(adresse), qPrintable(code));
                         if (!complete.isEmpty())
                             std::printf("(ou directement : %s)\n", qPrintable(complete));
                         afficher_qr_code(complete.isEmpty() ? adresse : complete);
                         std::printf("En attente de l'autorisation...\n");
                         std::fflush(stdout);
                     });
    QObject::connect(&connexion, &ConnexionOAuth2::adresse_navigateur, &connexion,
                     [](const QString &adresse) {
                         std::printf("Ouvrez cette adresse dans un navigateur de cette machine et "
                                     "autorisez l'accès à la boîte :\n  %s\nEn attente du "
                                     "retour du navigateur...\n",
                                     qPrintable(adresse));
                         std::fflush(stdout);
                     });
    int statut = 1;
    QEventLoop boucle;
    QObject::connect(&connexion, &ConnexionOAuth2::termine, &boucle,
                     [&](bool reussi, const QString &message) {
                         if (reussi) {
                             std::printf("%s\n", qPrintable(message));
                             statut = 0;
                         } else {
                             std::fprintf(stderr, "tramelon: %s\n", qPrintable(message));
                         }
                         boucle.quit();
                     });
    bool fini = false;
    QObject::connect(&connexion, &ConnexionOAuth2::termine, &connexion, [&] { fini = true; });
    connexion.demarrer();
    if (!fini)
        boucle.exec();
    std::fflush(nullptr);
    return statut;
}
