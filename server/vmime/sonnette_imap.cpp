#include "server/vmime/sonnette_imap.h"

#include "server/vmime/server_address.h"
#include "server/vmime/tls_verifier.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <libetpan/libetpan.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// A doorbell only hears short status lines: a server that sends more than
// this in one exchange is cut off.
constexpr size_t kOctetsMax = 1024 * 1024;
// No EXISTS came while idling.
constexpr uint32_t kAucunExists = UINT32_MAX;

enum class Evenement { Courrier, Connectee, EnPanne };
using Dire = std::function<void(Evenement, const QString &)>;

QString texte_errno(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

int en_ms(milliseconds duree)
{
    return int(std::clamp<milliseconds::rep>(duree.count(), 0, 24 * 3600 * 1000));
}

// SNI names the server, never an address.
void nom_serveur(struct mailstream_ssl_context *contexte, void *data)
{
    const char *hote = static_cast<const char *>(data);
    unsigned char adresse[16];
    if (::inet_pton(AF_INET, hote, adresse) != 1 && ::inet_pton(AF_INET6, hote, adresse) != 1)
        mailstream_ssl_set_server_name(contexte, const_cast<char *>(hote));
}

} // namespace

// What the window's thread and the doorbell's thread share.
struct SonnetteImap::Partage {
    Partage() : eveil(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Partage()
    {
        if (eveil >= 0)
            ::close(eveil);
    }
    Partage(const Partage &) = delete;
    Partage &operator=(const Partage &) = delete;

    bool arrete()
    {
        const std::lock_guard garde(verrou);
        return arret;
    }
    Acces acces_courant()
    {
        const std::lock_guard garde(verrou);
        return acces;
    }
    // The socket a stop shuts down, so that a call waiting on it returns at once.
    void publier(int fd)
    {
        const std::lock_guard garde(verrou);
        socket = fd;
    }
    void stopper()
    {
        const std::lock_guard garde(verrou);
        arret = true;
        if (socket >= 0)
            ::shutdown(socket, SHUT_RDWR);
        const uint64_t un = 1;
        if (eveil >= 0 && ::write(eveil, &un, sizeof un) < 0) {
            // The socket's shutdown above and the flag still end the thread.
        }
    }
    // False when stopped meanwhile.
    bool attendre(milliseconds duree)
    {
        pollfd attente{eveil, POLLIN, 0};
        ::poll(&attente, 1, en_ms(duree));
        return !arrete();
    }

    std::mutex verrou;
    Acces acces;
    int socket = -1;
    bool arret = false;
    const int eveil;
    std::thread fil;
};

namespace {

// One connection to the IMAP server, from the TCP connect to the IDLE wait.
class Connexion
{
public:
    Connexion(SonnetteImap::Partage &partage, const SonnetteImap::Reglages &reglages)
        : m_partage(partage), m_reglages(reglages)
    {
    }
    ~Connexion()
    {
        m_partage.publier(-1);
        if (m_imap)
            mailimap_free(m_imap);
        else if (m_fd >= 0)
            ::close(m_fd);
    }
    Connexion(const Connexion &) = delete;
    Connexion &operator=(const Connexion &) = delete;

    // Empty once signed in with INBOX selected and IDLE offered; else why not.
    QString ouvrir(const Sonnette::Acces &acces);
    // Waits for mail until the connection is lost (why) or the doorbell stops (empty).
    QString veiller(const std::function<void()> &sonner);

private:
    QString connecter_tcp(const ServerAddress &adresse);
    QString verifier_chaine(mailstream *flux) const;
    int uid_suivant(uint32_t &uid);
    QString echec(const QString &etape, int code) const;
    static void compter(mailimap *, int type, const char *, size_t taille, void *contexte);

    SonnetteImap::Partage &m_partage;
    const SonnetteImap::Reglages &m_reglages;
    mailimap *m_imap = nullptr;
    int m_fd = -1;
    QByteArray m_hote;
    QString m_serveur;
    size_t m_recu = 0;
    uint32_t m_uid_suivant = 0; // UIDNEXT: it grows when, and only when, a mail comes
};

int Connexion::uid_suivant(uint32_t &uid)
{
    mailimap_status_att_list *demande = mailimap_status_att_list_new_empty();
    if (!demande)
        return MAILIMAP_ERROR_MEMORY;
    mailimap_status_att_list_add(demande, MAILIMAP_STATUS_ATT_UIDNEXT);
    mailimap_mailbox_data_status *etat = nullptr;
    const int r = mailimap_status(m_imap, "INBOX", demande, &etat);
    mailimap_status_att_list_free(demande);
    if (r == MAILIMAP_NO_ERROR && etat && etat->st_info_list) {
        for (clistiter *i = clist_begin(etat->st_info_list); i; i = clist_next(i)) {
            const auto *info = static_cast<const mailimap_status_info *>(clist_content(i));
            if (info->st_att == MAILIMAP_STATUS_ATT_UIDNEXT)
                uid = info->st_value;
        }
    }
    if (etat)
        mailimap_mailbox_data_status_free(etat);
    return r;
}

QString Connexion::connecter_tcp(const ServerAddress &adresse)
{
    addrinfo indices{};
    indices.ai_family = AF_UNSPEC;
    indices.ai_socktype = SOCK_STREAM;
    addrinfo *liste = nullptr;
    const QByteArray port = QByteArray::number(adresse.port());
    if (const int e = ::getaddrinfo(m_hote.constData(), port.constData(), &indices, &liste); e != 0)
        return QStringLiteral("serveur IMAP %1 introuvable : %2")
            .arg(m_serveur, QString::fromLocal8Bit(::gai_strerror(e)));

    QString cause;
    for (const addrinfo *a = liste; a; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            cause = texte_errno(errno);
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
            pollfd attente[2] = {{fd, POLLOUT, 0}, {m_partage.eveil, POLLIN, 0}};
            const int n = ::poll(attente, 2, en_ms(m_reglages.delai));
            int erreur = 0;
            socklen_t taille = sizeof erreur;
            if (n > 0 && attente[0].revents &&
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &erreur, &taille) == 0 && erreur == 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                ::freeaddrinfo(liste);
                m_fd = fd;
                m_partage.publier(fd);
                return {};
            }
            cause =
                n == 0
                    ? QStringLiteral("pas de réponse en %1 s").arg(m_reglages.delai.count() / 1000)
                    : texte_errno(erreur ? erreur : ECONNREFUSED);
        } else {
            cause = texte_errno(errno);
        }
        ::close(fd);
    }
    ::freeaddrinfo(liste);
    return QStringLiteral("connexion impossible au serveur IMAP %1 : %2").arg(m_serveur, cause);
}

QString Connexion::verifier_chaine(mailstream *flux) const
{
    QList<QByteArray> der;
    if (carray *chaine = mailstream_get_certificate_chain(flux)) {
        for (unsigned int i = 0; i < carray_count(chaine); ++i) {
            const auto *c = static_cast<const MMAPString *>(carray_get(chaine, i));
            der.append(QByteArray(c->str, qsizetype(c->len)));
        }
        mailstream_certificate_chain_free(chaine);
    }
    const QString raison =
        TlsVerifier::checkDer(der, QString::fromUtf8(m_hote), m_reglages.autorites);
    if (raison.isEmpty())
        return {};
    return QStringLiteral("certificat du serveur IMAP %1 refusé : %2").arg(m_serveur, raison);
}

QString Connexion::echec(const QString &etape, int code) const
{
    if (m_recu > kOctetsMax)
        return QStringLiteral("le serveur IMAP %1 a envoyé plus de %2 octets d'un coup : "
                              "connexion coupée")
            .arg(m_serveur)
            .arg(kOctetsMax);
    if (code == MAILIMAP_ERROR_STREAM)
        return QStringLiteral("connexion au serveur IMAP %1 perdue ou sans réponse (%2)")
            .arg(m_serveur, etape);
    QString texte = QStringLiteral("le serveur IMAP %1 a refusé %2").arg(m_serveur, etape);
    if (m_imap && m_imap->imap_response && *m_imap->imap_response)
        texte += QStringLiteral(" : ") + QString::fromUtf8(m_imap->imap_response).left(200);
    else
        texte += QStringLiteral(" (code %1)").arg(code);
    return texte;
}

void Connexion::compter(mailimap *, int type, const char *, size_t taille, void *contexte)
{
    auto *connexion = static_cast<Connexion *>(contexte);
    if (type != MAILSTREAM_LOG_TYPE_DATA_RECEIVED)
        return;
    connexion->m_recu += taille;
    if (connexion->m_recu > kOctetsMax && connexion->m_fd >= 0)
        ::shutdown(connexion->m_fd, SHUT_RDWR);
}

QString Connexion::ouvrir(const Sonnette::Acces &acces)
{
    const ServerAddress adresse =
        ServerAddress::parse(acces.serveur, ServerAddress::Protocol::Imap, 143);
    if (!adresse.isValid())
        return adresse.error();
    m_hote = adresse.host().toUtf8();
    m_serveur = adresse.display();
    if (QString e = connecter_tcp(adresse); !e.isEmpty())
        return e;

    const time_t secondes = std::max<time_t>(1, time_t(m_reglages.delai.count() / 1000));
    const bool tls = adresse.security() == ServerAddress::Security::Tls;
    mailstream *flux =
        tls ? mailstream_ssl_open_with_callback_timeout(m_fd, secondes, &nom_serveur,
                                                        const_cast<char *>(m_hote.constData()))
            : mailstream_socket_open_timeout(m_fd, secondes);
    if (!flux)
        return QStringLiteral("négociation TLS impossible avec le serveur IMAP %1").arg(m_serveur);
    // Checked before the greeting is even read: nothing of ours has gone out.
    if (tls) {
        if (QString e = verifier_chaine(flux); !e.isEmpty()) {
            m_partage.publier(-1);
            mailstream_close(flux);
            m_fd = -1;
            return e;
        }
    }
    m_imap = mailimap_new(0, nullptr);
    if (!m_imap) {
        m_partage.publier(-1);
        mailstream_close(flux);
        m_fd = -1;
        return QStringLiteral("mémoire insuffisante pour la sonnette IMAP");
    }
    mailimap_set_timeout(m_imap, secondes);
    mailimap_set_logger(m_imap, &Connexion::compter, this);
    // From here the session owns the stream and its socket.
    int r = mailimap_connect(m_imap, flux);
    if (r != MAILIMAP_NO_ERROR_AUTHENTICATED && r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED)
        return echec(QStringLiteral("l'accueil"), r);
    const bool preauth = r == MAILIMAP_NO_ERROR_AUTHENTICATED;

    if (adresse.security() == ServerAddress::Security::StartTls) {
        m_recu = 0;
        r = mailimap_socket_starttls_with_callback(m_imap, &nom_serveur,
                                                   const_cast<char *>(m_hote.constData()));
        if (r != MAILIMAP_NO_ERROR)
            return echec(QStringLiteral("STARTTLS"), r);
        if (QString e = verifier_chaine(m_imap->imap_stream); !e.isEmpty())
            return e;
    }

    if (!preauth) {
        m_recu = 0;
        const QByteArray login = acces.login.toUtf8();
        const QByteArray secret = acces.secret.toUtf8();
        r = acces.jeton_oauth2
                ? mailimap_oauth2_authenticate(m_imap, login.constData(), secret.constData())
                : mailimap_login(m_imap, login.constData(), secret.constData());
        if (r != MAILIMAP_NO_ERROR)
            return echec(QStringLiteral("la connexion de « %1 »").arg(acces.login), r);
    }

    m_recu = 0;
    mailimap_capability_data *capacites = nullptr;
    r = mailimap_capability(m_imap, &capacites);
    if (capacites)
        mailimap_capability_data_free(capacites);
    if (r != MAILIMAP_NO_ERROR)
        return echec(QStringLiteral("CAPABILITY"), r);
    if (!mailimap_has_idle(m_imap))
        return QStringLiteral("le serveur IMAP %1 ne connaît pas IDLE").arg(m_serveur);

    m_recu = 0;
    r = mailimap_select(m_imap, "INBOX");
    if (r != MAILIMAP_NO_ERROR || !m_imap->imap_selection_info)
        return echec(QStringLiteral("la sélection de INBOX"), r);
    m_uid_suivant = m_imap->imap_selection_info->sel_uidnext;
    return {};
}

QString Connexion::veiller(const std::function<void()> &sonner)
{
    for (;;) {
        m_recu = 0;
        m_imap->imap_selection_info->sel_exists = kAucunExists;
        m_imap->imap_selection_info->sel_recent = 0;
        int r = mailimap_idle(m_imap);
        if (r != MAILIMAP_NO_ERROR)
            return m_partage.arrete() ? QString() : echec(QStringLiteral("IDLE"), r);
        // A line already read with the server's go-ahead is not on the socket
        // any more, and news that came before it is already parsed.
        const bool nouvelles = m_imap->imap_selection_info->sel_exists != kAucunExists ||
                               m_imap->imap_selection_info->sel_recent != 0;
        if (m_imap->imap_stream->read_buffer_len == 0 && !nouvelles) {
            pollfd attente[2] = {{mailimap_idle_get_fd(m_imap), POLLIN, 0},
                                 {m_partage.eveil, POLLIN, 0}};
            int n = 0;
            do {
                n = ::poll(attente, 2, en_ms(m_reglages.renouvellement));
            } while (n < 0 && errno == EINTR);
            if (m_partage.arrete())
                return {};
        }
        // DONE, read up to the end of IDLE: the server's news with it. Past the
        // renewal time this only starts IDLE again.
        m_recu = 0;
        r = mailimap_idle_done(m_imap);
        if (r != MAILIMAP_NO_ERROR)
            return m_partage.arrete() ? QString() : echec(QStringLiteral("la fin de IDLE"), r);
        // The server also says EXISTS when the POP3 session only read or
        // deleted: a mail came only if UIDNEXT grew.
        if (m_imap->imap_selection_info->sel_exists == kAucunExists &&
            m_imap->imap_selection_info->sel_recent == 0)
            continue;
        uint32_t uid = m_uid_suivant;
        m_recu = 0;
        r = uid_suivant(uid);
        if (r != MAILIMAP_NO_ERROR)
            return m_partage.arrete() ? QString() : echec(QStringLiteral("STATUS"), r);
        if (uid != m_uid_suivant)
            sonner();
        m_uid_suivant = uid;
    }
}

void executer(std::shared_ptr<SonnetteImap::Partage> partage, SonnetteImap::Reglages reglages,
              Dire dire)
{
    // A server gone away must not end the program with SIGPIPE: writes here
    // fail with EPIPE instead.
    sigset_t masque;
    sigemptyset(&masque);
    sigaddset(&masque, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &masque, nullptr);

    milliseconds pause = reglages.premier_essai;
    while (!partage->arrete()) {
        QString raison;
        {
            Connexion connexion(*partage, reglages);
            raison = connexion.ouvrir(partage->acces_courant());
            if (raison.isEmpty() && !partage->arrete()) {
                dire(Evenement::Connectee, {});
                pause = reglages.premier_essai;
                raison = connexion.veiller([&dire] { dire(Evenement::Courrier, {}); });
            }
        }
        if (partage->arrete())
            return;
        dire(Evenement::EnPanne, raison);
        if (!partage->attendre(pause))
            return;
        pause = std::min(pause * 2, reglages.dernier_essai);
    }
}

} // namespace

SonnetteImap::SonnetteImap(QObject *parent) : SonnetteImap(Reglages{}, parent) {}

SonnetteImap::SonnetteImap(Reglages reglages, QObject *parent)
    : Sonnette(parent), m_reglages(std::move(reglages))
{
}

SonnetteImap::~SonnetteImap() { arreter(); }

void SonnetteImap::demarrer(const Acces &acces)
{
    arreter();
    m_partage = std::make_shared<Partage>();
    m_partage->acces = acces;
    const quint64 generation = ++m_generation;
    // What the thread says reaches the window's thread as a queued call, and
    // only while that run of the doorbell is the current one.
    Dire dire = [this, generation](Evenement e, const QString &raison) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, e, raison] {
                if (generation != m_generation)
                    return;
                switch (e) {
                case Evenement::Courrier:
                    Q_EMIT courrier();
                    return;
                case Evenement::Connectee:
                    Q_EMIT connectee();
                    return;
                case Evenement::EnPanne:
                    Q_EMIT en_panne(raison);
                    return;
                }
            },
            Qt::QueuedConnection);
    };
    m_partage->fil = std::thread(&executer, m_partage, m_reglages, std::move(dire));
}

void SonnetteImap::changer_acces(const Acces &acces)
{
    if (!m_partage)
        return;
    const std::lock_guard garde(m_partage->verrou);
    m_partage->acces = acces;
}

void SonnetteImap::arreter()
{
    if (!m_partage)
        return;
    ++m_generation;
    m_partage->stopper();
    if (m_partage->fil.joinable())
        m_partage->fil.join();
    m_partage.reset();
}
