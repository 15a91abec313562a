#include "server/core/oauth/smtp_oauth2.h"

#include "server/core/oauth/oauth_jeton.h"

SmtpOAuth2::SmtpOAuth2(std::unique_ptr<SmtpSender> sender, SourceJeton &source, QObject *parent)
    : SmtpSender(parent), m_sender(std::move(sender)), m_source(source)
{
    connect(m_sender.get(), &SmtpSender::ConnectionMade, this, &SmtpSender::ConnectionMade);
    connect(m_sender.get(), &SmtpSender::MessageSent, this, &SmtpSender::MessageSent);
    connect(m_sender.get(), &SmtpSender::ConnectionClosed, this, &SmtpSender::ConnectionClosed);
    connect(m_sender.get(), &SmtpSender::SMTPError, this, &SmtpSender::SMTPError);
}

SmtpOAuth2::~SmtpOAuth2() = default;

QString SmtpOAuth2::statustext() const
{
    return m_erreur.isEmpty() ? m_sender->statustext() : m_erreur;
}

bool SmtpOAuth2::prepare()
{
    m_erreur.clear();
    m_sender->properties = properties;
    m_sender->itemlist = itemlist;
    m_sender->properties.authentification = Authentification::MotDePasse;
    if (properties.username.isEmpty() || !m_source.reglages().actif)
        return true;
    const SourceJeton::Resultat r = m_source.jeton();
    if (r.etat != SourceJeton::Resultat::Etat::Pret) {
        m_erreur = r.erreur;
        Q_EMIT SMTPError(SourceJeton::kErreurJeton, r.erreur);
        return false;
    }
    m_sender->properties.password = r.jeton;
    m_sender->properties.authentification = Authentification::JetonOAuth2;
    return true;
}

void SmtpOAuth2::sendmessage()
{
    replycode = 0;
    permanentfailure = false;
    if (!prepare())
        return;
    m_sender->sendmessage();
    replycode = m_sender->replycode;
    permanentfailure = m_sender->permanentfailure;
}

bool SmtpOAuth2::sendcomposed(const ComposedMail &mail)
{
    // No token this cycle is worth another try, as a connection that failed.
    replycode = 0;
    permanentfailure = false;
    if (!prepare())
        return false;
    const bool accepted = m_sender->sendcomposed(mail);
    replycode = m_sender->replycode;
    permanentfailure = m_sender->permanentfailure;
    return accepted;
}

bool SmtpOAuth2::checkconnection()
{
    replycode = 0;
    permanentfailure = false;
    if (!prepare())
        return false;
    const bool accepted = m_sender->checkconnection();
    replycode = m_sender->replycode;
    return accepted;
}

bool SmtpOAuth2::busy() const { return m_source.busy() || m_sender->busy(); }
