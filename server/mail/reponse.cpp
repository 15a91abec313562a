#include "server/mail/reponse.h"

#include "common/blancs.h"
#include "server/frame/affichage.h"
#include "server/mail/reply_mail.h"

namespace {
constexpr qint16 kDernierNumero = 10000;
} // namespace

Reponse::Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, Horloge horloge,
                 QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_smtp(smtp), m_horloge(horloge),
      m_signalement(state, affichage, std::move(horloge)),
      m_boite_envoi(state.rep_appli + QStringLiteral("outbox"))
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

ComposedMail Reponse::compose(const MessageEnCours &message, qint16 numero) const
{
    ReplyContent contenu;
    contenu.from = enleve_blancs(m_state.adresse_reponse);
    contenu.to = message.expediteur;
    contenu.subject = objet_numerote(message.objet_reponse(), numero);
    contenu.text = message.texte_reponse;
    contenu.html = message.texte_reponse;
    contenu.inReplyTo = message.message_id;
    contenu.references = message.references;
    contenu.date = m_horloge();
    return ComposedMail{contenu.from, contenu.to, compose_reply(contenu)};
}

bool Reponse::prepare_reponse(const MessageEnCours &message)
{
    m_state.compteur_reponses = compteur_suivant(m_state.compteur_reponses);
    const qint16 numero = m_state.compteur_reponses;
    if (m_boite_envoi.ajoute(numero, compose(message, numero), m_horloge().toUTC()))
        return true;
    m_signalement.erreur(m_boite_envoi.erreur());
    m_en_memoire.append({numero, message});
    return false;
}

void Reponse::envoie_en_memoire()
{
    while (!m_en_memoire.isEmpty()) {
        const EnMemoire &suivante = m_en_memoire.first();
        if (m_smtp.sendcomposed(compose(suivante.message, suivante.numero))) {
            m_en_memoire.removeFirst();
            continue;
        }
        if (!m_smtp.permanentfailure)
            return;
        m_signalement.information(
            QStringLiteral("Réponse n %1 à %2 abandonnée : refusée par le serveur SMTP (%3)")
                .arg(suivante.numero)
                .arg(suivante.message.expediteur, m_smtp.statustext()));
        m_en_memoire.removeFirst();
    }
}

void Reponse::sendmail2()
{
    m_smtp.itemlist.clear();
    SmtpProperties &p = m_smtp.properties;
    p.server = m_state.nom_serveur_smtp;
    // With "Authentification SMTP" ticked the mailbox account also signs the replies in.
    p.username = m_state.auth_smtp ? m_state.login_pop : QString();
    p.password = m_state.auth_smtp ? m_state.pass_pop : QString();

    envoie_en_memoire();
    const BoiteEnvoi::Tour tour = m_boite_envoi.envoie(m_smtp, m_horloge().toUTC());
    m_en_attente = tour.restantes;
    // Replies held back or dropped: the operator must see them among the faults.
    for (const QString &ligne : tour.lignes)
        m_signalement.avertissement(ligne);
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
