#include "server/core/oauth/oauth_client.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>

ClientOAuth2::ClientOAuth2(QObject *parent)
    : QObject(parent), m_reseau(new QNetworkAccessManager(this))
{
    // The token endpoint is asked directly: a proxy of the environment would
    // see the refresh token.
    m_reseau->setProxy(QNetworkProxy::NoProxy);
}

ClientOAuth2::~ClientOAuth2()
{
    // Whoever waits for the answer may be going too: nobody is told.
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
    }
}

ReponseOAuth2 ClientOAuth2::lire_reponse(int statut, const QByteArray &corps, const QString &echec)
{
    ReponseOAuth2 r;
    QJsonParseError erreurJson;
    const QJsonDocument doc = QJsonDocument::fromJson(corps, &erreurJson);
    const bool objet = erreurJson.error == QJsonParseError::NoError && doc.isObject();
    if (objet)
        r.corps = doc.object();
    const QString code = r.corps.value(QStringLiteral("error")).toString();
    if (statut >= 200 && statut < 300 && objet && code.isEmpty()) {
        r.issue = ReponseOAuth2::Issue::Succes;
        return r;
    }
    // RFC 6749: errors come as 400 (401 for a client not recognised) with a
    // JSON "error"; anything else is a server that does not work right now.
    if (objet && !code.isEmpty() && statut >= 400 && statut < 500) {
        r.issue = ReponseOAuth2::Issue::Refus;
        r.erreur = code;
        const QString detail = r.corps.value(QStringLiteral("error_description")).toString();
        r.description =
            QStringLiteral("le fournisseur OAuth2 refuse : ") + code +
            (detail.isEmpty() ? QString()
                              : QStringLiteral(" (") + detail.left(200) + QStringLiteral(")"));
        return r;
    }
    r.issue = ReponseOAuth2::Issue::Injoignable;
    r.description =
        QStringLiteral("le fournisseur OAuth2 ne répond pas : ") +
        (echec.isEmpty() ? QStringLiteral("réponse HTTP ") + QString::number(statut) : echec);
    return r;
}

void ClientOAuth2::poster(const QUrl &url, const QUrlQuery &form, Suite suite)
{
    annuler();
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(m_timeoutMs);
    // A redirection would carry the form elsewhere.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_reseau->post(request, form.toString(QUrl::FullyEncoded).toUtf8());
    m_reply = reply;
    // Qt's network thread would otherwise keep filling the reply's buffer
    // whenever this thread is busy elsewhere: it stops reading the socket there.
    reply->setReadBufferSize(kTailleReponseMax + 1);
    // The body is taken as it comes, so that no more than the cap is ever
    // held; past it, the transfer is ended.
    auto corps = std::make_shared<QByteArray>();
    auto trop_long = std::make_shared<bool>(false);
    auto lire = [reply, corps, trop_long] {
        if (*trop_long)
            return;
        const qint64 annonce = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        *corps += reply->read(kTailleReponseMax + 1 - corps->size());
        if (annonce > kTailleReponseMax || corps->size() > kTailleReponseMax) {
            *trop_long = true;
            corps->clear();
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, lire);
    connect(reply, &QNetworkReply::metaDataChanged, this, lire);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, corps, trop_long, lire, suite = std::move(suite)] {
                if (m_reply == reply)
                    m_reply = nullptr;
                reply->deleteLater();
                lire();
                const int statut =
                    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const bool reseau = reply->error() != QNetworkReply::NoError && statut == 0;
                if (*trop_long) {
                    ReponseOAuth2 r;
                    r.description = QStringLiteral("le fournisseur OAuth2 (") +
                                    reply->url().host() +
                                    QStringLiteral(") envoie une réponse de plus de 64 Kio, qui "
                                                   "n'est pas une réponse OAuth2 : lecture "
                                                   "arrêtée");
                    suite(r);
                    return;
                }
                QString echec;
                if (reply->error() == QNetworkReply::OperationCanceledError ||
                    reply->error() == QNetworkReply::TimeoutError)
                    echec = QStringLiteral("pas de réponse de ") + reply->url().host();
                else if (reseau)
                    echec = reply->errorString();
                suite(lire_reponse(statut, reseau ? QByteArray() : *corps, echec));
            });
}

ReponseOAuth2 ClientOAuth2::poster_et_attendre(const QUrl &url, const QUrlQuery &form)
{
    ReponseOAuth2 resultat;
    QEventLoop boucle;
    bool fini = false;
    QPointer<QEventLoop> attente(&boucle);
    poster(url, form, [&](const ReponseOAuth2 &r) {
        resultat = r;
        fini = true;
        if (attente)
            attente->quit();
    });
    if (!fini)
        boucle.exec();
    return resultat;
}

void ClientOAuth2::annuler()
{
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->abort();
    }
}
