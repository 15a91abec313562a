#include "server/core/oauth/pop3_oauth2.h"

#include "server/core/oauth/oauth_jeton.h"

Pop3OAuth2::Pop3OAuth2(std::unique_ptr<Pop3Session> session, SourceJeton &source, QObject *parent)
    : Pop3Session(parent), m_session(std::move(session)), m_source(source)
{
    connect(m_session.get(), &Pop3Session::Connected, this, &Pop3Session::Connected);
    connect(m_session.get(), &Pop3Session::Closed, this, &Pop3Session::Closed);
    connect(m_session.get(), &Pop3Session::ErrorPOP3, this, &Pop3Session::ErrorPOP3);
    connect(m_session.get(), &Pop3Session::ServerFault, this, &Pop3Session::ServerFault);
    connect(m_session.get(), &Pop3Session::StatusChanged, this, &Pop3Session::StatusChanged);
}

Pop3OAuth2::~Pop3OAuth2() = default;

qint32 Pop3OAuth2::Open(const QString &server, qint32 port, const QString &user,
                        const QString &password)
{
    if (Busy()) {
        Q_EMIT ErrorPOP3(12, QStringLiteral("appel en cours"));
        return 12;
    }
    if (!m_source.reglages().actif) {
        m_session->SetAuthMethod(Authentification::MotDePasse);
        return m_session->Open(server, port, user, password);
    }
    m_source.nouveau_cycle();
    const SourceJeton::Resultat r = m_source.jeton();
    if (!r.erreur.isEmpty())
        Q_EMIT StatusChanged(r.erreur, 8);
    if (r.etat != SourceJeton::Resultat::Etat::Pret) {
        Q_EMIT ErrorPOP3(SourceJeton::kErreurJeton, r.erreur);
        return SourceJeton::kErreurJeton;
    }
    m_session->SetAuthMethod(Authentification::JetonOAuth2);
    return m_session->Open(server, port, user, r.jeton);
}

std::optional<Pop3Message> Pop3OAuth2::FetchMessage(qint32 number, const QString &archivePath)
{
    // What the caller set on this session must rule the one inside: the size
    // limit, and the record made before a mail is read.
    m_session->SetMaxMailSize(MaxMailSize());
    m_session->SetReadGuard([this](const QString &archive) { return CheckBeforeRead(archive); });
    return m_session->FetchMessage(number, archivePath);
}

bool Pop3OAuth2::Busy() const { return m_source.busy() || m_session->Busy(); }

void Pop3OAuth2::Cancel()
{
    if (m_source.busy())
        m_source.annuler();
    m_session->Cancel();
}
