#pragma once

#include "server/frame/server_state.h"

#include <QObject>

class Affichage;
class SmtpSender;

// The answer to the mail processed in this cycle: sent through SMTP1 to the
// sender of that mail (Label8), numbered, and logged in Text2.
class Reponse : public QObject
{
    Q_OBJECT

public:
    Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, QObject *parent = nullptr);

    void sendmail2();

    // Numbers run 1 to 10000, then start again at 0.
    static qint16 compteur_suivant(qint16 compteur);
    // reponse_objet + " (reponse n " + the number with its sign place + " )".
    static QString objet_numerote(const QString &objet, qint16 numero);

private:
    void notification();
    void SMTP1_Error(qint16 Number, const QString &Description);

    ServerState &m_state;
    Affichage &m_affichage;
    SmtpSender &m_smtp;
};
