#pragma once

#include "server/frame/server_state.h"
#include "server/mail/outbox.h"
#include "server/mail/smtp_sender.h"

#include <QObject>

class Affichage;
class SmtpSender;

// The answer to the mail processed in this cycle, to the sender of that mail
// (Label8), numbered. prepare_reponse() composes it and stores it in the
// outbox of the server's folder before the mail leaves the mailbox;
// sendmail2() sends through SMTP1 what the outbox holds, oldest first, and
// logs it in Text2. A reply the server did not take stays for the next cycle.
class Reponse : public QObject
{
    Q_OBJECT

public:
    Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, QObject *parent = nullptr);

    // Composes the reply from the state and stores it; false when it could
    // not be stored, in which case it is kept in memory until sent.
    bool prepare_reponse();
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
    Outbox m_outbox;
    // Replies the outbox could not store: sent from here, never dropped.
    QList<ComposedMail> m_en_memoire;
};
