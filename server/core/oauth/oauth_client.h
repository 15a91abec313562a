#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

struct ReponseHttp;

// What an OAuth 2.0 endpoint answered to one form posted to it.
struct ReponseOAuth2 {
    enum class Issue {
        Succes,     // 2xx with a JSON object
        Refus,      // an OAuth error code in erreur ("invalid_grant", "authorization_pending"...)
        Injoignable // no answer, a timeout, or an answer that is no OAuth answer
    };
    Issue issue = Issue::Injoignable;
    QString erreur;      // the OAuth error code, with Refus
    QString description; // French, for the operator; never holds a token
    QJsonObject corps;
};

// Posts forms to the provider's endpoints, each on a thread of its own (see
// poster_borne). One request at a time; the answer comes back on the
// caller's thread.
class ClientOAuth2 : public QObject
{
    Q_OBJECT

public:
    explicit ClientOAuth2(QObject *parent = nullptr);
    ~ClientOAuth2() override;

    // An answer longer than this is no OAuth answer: reading stops there and
    // the endpoint counts as unreachable, so an endless answer costs no memory.
    static constexpr qint64 kTailleReponseMax = 64 * 1024;

    // 30 s unless set: an endpoint that has not answered by then is unreachable.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    using Suite = std::function<void(const ReponseOAuth2 &)>;
    // Sends the form; suite runs once with the answer.
    void poster(const QUrl &url, const QUrlQuery &form, Suite suite);
    // The same, waiting in a nested event loop: window events go on meanwhile.
    ReponseOAuth2 poster_et_attendre(const QUrl &url, const QUrlQuery &form);
    bool busy() const { return static_cast<bool>(m_suite); }
    // Ends the request in flight: its suite runs with Injoignable.
    void annuler();

    // Reads an answer (for the tests of what endpoints may send).
    static ReponseOAuth2 lire_reponse(int statut, const QByteArray &corps, const QString &echec);

private:
    void recue(quint64 numero, const ReponseHttp &reponse);

    std::thread m_fil;                           // the last request's, joined before the next
    std::shared_ptr<std::atomic<bool>> m_annule; // the request in flight's
    quint64 m_numero = 0;                        // of the request in flight
    Suite m_suite;                               // set while a request is in flight
    QString m_hote;
    int m_timeoutMs = 30000;
};
