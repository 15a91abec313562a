#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// The loopback address the provider sends the browser back to at the end of
// the browser sign-in. Any program or web page of this machine can reach it,
// so it holds out against them: each request is answered and forgotten
// (whoever judges it decides whether it ends the wait), a connection has a
// few seconds to say what it wants and a bounded number of bytes to say it,
// and only so many are kept open at once: a new one pushes out the oldest,
// which leaves room for the browser however many idle ones are opened.
class EcouteRetour : public QObject
{
    Q_OBJECT

public:
    static constexpr int kConnexionsMax = 16;
    static constexpr int kDelaiLectureMs = 10 * 1000;
    // The request line and the headers together.
    static constexpr qsizetype kTailleRequeteMax = 8 * 1024;

    struct Reponse {
        int statut = 404;
        QString texte; // French, shown in the browser
    };
    // Judges the target of one GET ("/?code=...&state=...").
    using Juge = std::function<Reponse(const QUrl &cible)>;

    explicit EcouteRetour(Juge juge, QObject *parent = nullptr);
    ~EcouteRetour() override;

    // Listens on 127.0.0.1:port (0: a port the system chooses). The reason in
    // French when it cannot.
    [[nodiscard]] QString ecouter(quint16 port);
    quint16 port() const;
    // Takes no more connections; the answers under way are still sent.
    void fermer();
    void set_delai_lecture(int millisecondes) { m_delai_lecture_ms = millisecondes; }
    int connexions_ouvertes() const { return int(m_ouvertes.size()); }

private:
    void accepter();
    void lire(QTcpSocket *socket);
    void repondre(QTcpSocket *socket, int statut, const QString &texte);
    void oublier(QTcpSocket *socket);

    Juge m_juge;
    QTcpServer *m_serveur;
    int m_delai_lecture_ms = kDelaiLectureMs;
    // Connections not answered yet, oldest first.
    QList<QTcpSocket *> m_ouvertes;
};
