#include "server/core/oauth/oauth_client.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

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
    connect(reply, &QNetworkReply::finished, this, [this, reply, suite = std::move(suite)] {
        if (m_reply == reply)
            m_reply = nullptr;
        reply->deleteLater();
        const int statut = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool reseau = reply->error() != QNetworkReply::NoError && statut == 0;
        QString echec;
        if (reply->error() == QNetworkReply::OperationCanceledError ||
            reply->error() == QNetworkReply::TimeoutError)
            echec = QStringLiteral("pas de réponse de ") + reply->url().host();
        else if (reseau)
            echec = reply->errorString();
        suite(lire_reponse(statut, reseau ? QByteArray() : reply->readAll(), echec));
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
