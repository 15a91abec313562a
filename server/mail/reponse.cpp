#include "server/mail/reponse.h"

#include "common/blancs.h"
#include "server/frame/affichage.h"
#include "server/frame/journal.h"
#include "server/mail/reply_mail.h"

namespace {
constexpr qint16 kDernierNumero = 10000;
} // namespace

Reponse::Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_smtp(smtp),
      m_outbox(state.rep_appli + QStringLiteral("outbox"))
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
    const QString chiffres = numero < 0 ? QString::number(numero) : u' ' + QString::number(numero);
    return objet + QStringLiteral(" (reponse n ") + chiffres + QStringLiteral(" )");
}

bool Reponse::prepare_reponse()
{
    m_state.compteur_reponses = compteur_suivant(m_state.compteur_reponses);
    ReplyContent contenu;
    contenu.from = enleve_blancs(m_state.adresse_reponse);
    contenu.to = m_affichage.champs().Label8;
    contenu.subject = objet_numerote(m_state.reponse_objet, m_state.compteur_reponses);
    contenu.text = m_state.reponse_texte;
    contenu.html = m_state.reponse_texte;
    contenu.inReplyTo = m_state.reponse_message_id;
    contenu.references = m_state.reponse_references;
    const ComposedMail mail{contenu.from, contenu.to, compose_reply(contenu)};
    if (m_outbox.ajoute(m_state.compteur_reponses, mail))
        return true;
    m_affichage.erreur(m_outbox.error());
    journal::ecrire_journal(m_state, m_outbox.error());
    m_en_memoire.append(mail);
    return false;
}

void Reponse::sendmail2()
{
    m_smtp.itemlist.clear();
    SmtpProperties &p = m_smtp.properties;
    p.server = m_state.nom_serveur_smtp;
    // With "Authentification SMTP" ticked the mailbox account also signs the replies in.
    p.username = m_state.auth_smtp ? m_state.login_pop : QString();
    p.password = m_state.auth_smtp ? m_state.pass_pop : QString();

    while (!m_en_memoire.isEmpty() && m_smtp.sendcomposed(m_en_memoire.first()))
        m_en_memoire.removeFirst();
    const Outbox::Round tour = m_outbox.envoie(m_smtp);
    for (const QString &ligne : tour.lines) {
        m_affichage.information(ligne);
        journal::ecrire_journal(m_state, ligne);
    }
}

void Reponse::notification()
{
    m_affichage.ajouter(Champ::Text2, u' ' + m_smtp.statustext() + QStringLiteral("\r\n"));
}

void Reponse::SMTP1_Error(qint16 Number, const QString &Description)
{
    m_affichage.ajouter(Champ::Text2, QStringLiteral("  Error ") + QString::number(Number) +
                                          QStringLiteral(": ") + Description +
                                          QStringLiteral("\r\n"));
}
