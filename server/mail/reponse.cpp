#include "server/mail/reponse.h"

#include "common/blancs.h"
#include "server/frame/affichage.h"
#include "server/mail/smtp_sender.h"

namespace {
constexpr qint16 kDernierNumero = 10000;
} // namespace

Reponse::Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_affichage(affichage)
    , m_smtp(smtp)
{
    connect(&m_smtp, &SmtpSender::ConnectionMade, this, &Reponse::notification);
    connect(&m_smtp, &SmtpSender::MessageSent, this, &Reponse::notification);
    connect(&m_smtp, &SmtpSender::ConnectionClosed, this, &Reponse::notification);
    connect(&m_smtp, &SmtpSender::SMTPError, this, &Reponse::SMTP1_Error);
}

qint16 Reponse::compteur_suivant(qint16 compteur)
{
    const int suivant = compteur + 1;
    return suivant > kDernierNumero ? qint16(0) : qint16(suivant);
}

QString Reponse::objet_numerote(const QString &objet, qint16 numero)
{
    // The number keeps the place of its sign: a blank for a positive one.
    const QString chiffres = numero < 0 ? QString::number(numero)
                                        : u' ' + QString::number(numero);
    return objet + QStringLiteral(" (reponse n ") + chiffres + QStringLiteral(" )");
}

void Reponse::sendmail2()
{
    m_smtp.itemlist.clear();
    m_state.compteur_reponses = compteur_suivant(m_state.compteur_reponses);

    SmtpProperties &p = m_smtp.properties;
    p.server = m_state.nom_serveur_smtp;
    // With "Authentification SMTP" ticked the mailbox account also signs the replies in.
    p.username = m_state.auth_smtp ? m_state.login_pop : QString();
    p.password = m_state.auth_smtp ? m_state.pass_pop : QString();
    p.mailfrom = u'<' + enleve_blancs(m_state.adresse_reponse) + u'>';
    p.sendto = enleve_blancs(m_affichage.champs().Label8);
    p.cc.clear();
    p.bcc.clear();
    p.messagesubject = objet_numerote(m_state.reponse_objet, m_state.compteur_reponses);
    p.messagetext = m_state.reponse_texte;
    p.messagehtml = m_state.reponse_texte;
    m_smtp.sendmessage();
}

void Reponse::notification()
{
    m_affichage.ajouter(Champ::Text2, u' ' + m_smtp.statustext() + QStringLiteral("\r\n"));
}

void Reponse::SMTP1_Error(qint16 Number, const QString &Description)
{
    m_affichage.ajouter(Champ::Text2, QStringLiteral("  Error ") + QString::number(Number)
                                          + QStringLiteral(": ") + Description
                                          + QStringLiteral("\r\n"));
}
