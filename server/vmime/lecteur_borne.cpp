#include "server/vmime/lecteur_borne.h"

#include "server/vmime/mail_file_reader.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace lecture_bornee {

namespace {

// Where the reader keeps its socket to the server, and its children their answer.
constexpr int kDescripteur = 3;
// After a mail, before the next child is forked and before it warms up: the
// mail's deletion, QUIT and reply follow its reading at once, and are not to
// share the processor with that work.
constexpr int kReserveDiffereeMs = 100;
// In the environment of a reader the server runs again: the server's process id.
constexpr char kVariable[] = "TRAMELON_LECTEUR";
constexpr int kPasAttenteMs = 100;
// The reader answers at once; one silent this long no longer works.
constexpr int kDelaiLecteurMs = 5000;
constexpr size_t kCheminMax = 16384;

// Lu: the answer came whole (its child may still be there); Finir: it did not,
// and its child's end is waited for.
enum class Type : qint32 { Lire = 1, Finir, Tuer, Pret, Lance, Refus, Statut, Lu };

struct Demande {
    Type type;
    qint32 secondes_cpu;
    qint64 memoire;
    // the file's path follows, for Lire, with the answer's pipe beside it
};

struct Reponse {
    Type type;
    qint32 valeur; // the child's process id, an errno, or the child's wait status
    qint64 pic_kio;
};

QString systeme(const char *appel, int erreur)
{
    return QString::fromLatin1(appel) + QStringLiteral(" : ") +
           QString::fromLocal8Bit(std::strerror(erreur));
}

// ---- In the reader and its children: system calls only, no lock taken. ----

void fermer_au_dela(int dernier)
{
    if (::close_range(static_cast<unsigned>(dernier) + 1, ~0U, 0) == 0)
        return;
    rlimit fichiers{};
    ::getrlimit(RLIMIT_NOFILE, &fichiers);
    const int fin = fichiers.rlim_cur == RLIM_INFINITY || fichiers.rlim_cur > 65536
                        ? 65536
                        : static_cast<int>(fichiers.rlim_cur);
    for (int fd = dernier + 1; fd < fin; ++fd)
        ::close(fd);
}

bool envoyer_reponse(const Reponse &reponse)
{
    ssize_t n = 0;
    do
        n = ::send(kDescripteur, &reponse, sizeof reponse, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof reponse);
}

// Makes this process the reader: it dies with the server and holds its
// standard descriptors and its socket, nothing else.
void installer_lecteur(int socket, pid_t serveur)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != serveur)
        ::_exit(0); // the server died before the line above
    if (socket != kDescripteur) {
        if (::dup2(socket, kDescripteur) < 0)
            ::_exit(127);
        ::close(socket);
    }
    ::fcntl(kDescripteur, F_SETFD, FD_CLOEXEC);
    fermer_au_dela(kDescripteur);
    const int nul = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nul >= 0) {
        ::dup2(nul, STDIN_FILENO);
        ::dup2(nul, STDOUT_FILENO);
        if (nul > STDERR_FILENO)
            ::close(nul);
    }
    // The server ends on these; the reader goes with it, never before.
    for (const int numero : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2})
        ::signal(numero, SIG_IGN);
    sigset_t aucun;
    ::sigemptyset(&aucun);
    ::sigprocmask(SIG_SETMASK, &aucun, nullptr);
}

// Every child of the reader: it dies with the reader and leaves no core.
void devenir_enfant(pid_t lecteur)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != lecteur)
        ::_exit(127);
    const rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
}

// Puts fd at kDescripteur, in the place of whatever was there, closes every
// descriptor above it and sends the error output to /dev/null: a child holds
// nothing of the reader's.
void garder_seul(int fd)
{
    if (::dup2(fd, kDescripteur) < 0)
        ::_exit(127);
    fermer_au_dela(kDescripteur);
    const int nul = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nul >= 0) {
        ::dup2(nul, STDERR_FILENO);
        ::close(nul);
    }
}

// One mail read under the limits asked for, the answer written on the pipe
// put at kDescripteur, in the place of whatever was there.
[[noreturn]] void lire_et_repondre(int tube, const char *chemin, size_t taille,
                                   const Demande &demande)
{
    const rlim_t cpu = static_cast<rlim_t>(demande.secondes_cpu);
    const rlimit temps{cpu, cpu + 1}; // SIGXCPU, then SIGKILL a second later
    ::setrlimit(RLIMIT_CPU, &temps);
    if (kMemoireBornee) {
        const rlim_t octets = static_cast<rlim_t>(demande.memoire);
        const rlimit memoire{octets, octets};
        ::setrlimit(RLIMIT_AS, &memoire);
    }
    garder_seul(tube);

    const std::optional<Pop3Message> mail =
        read_mail_file(QFile::decodeName(QByteArray(chemin, static_cast<qsizetype>(taille))));
    if (!mail)
        ::_exit(3);
    const QByteArray sortie = encoder(*mail);
    for (qsizetype ecrit = 0; ecrit < sortie.size();) {
        const ssize_t n = ::write(kDescripteur, sortie.constData() + ecrit,
                                  static_cast<size_t>(sortie.size() - ecrit));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(4);
        ecrit += n;
    }
    // The answer ends here, before the process's memory is taken down.
    if (::close(kDescripteur) != 0)
        ::_exit(4);
    // Taking that memory down costs the machine a millisecond or so: the
    // reader has it done once this mail's dialogue is over (it kills this
    // child then), not while the server deletes the mail and says QUIT.
    for (;;)
        ::pause();
}

// Sends octets in one message, with the pipe tube beside them when there is
// one; true when all went.
bool envoyer_avec_tube(int socket, const char *octets, size_t taille, int tube)
{
    iovec vecteur{const_cast<char *>(octets), taille};
    alignas(cmsghdr) char controle[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &vecteur;
    message.msg_iovlen = 1;
    if (tube >= 0) {
        message.msg_control = controle;
        message.msg_controllen = sizeof controle;
        cmsghdr *c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &tube, sizeof tube);
    }
    ssize_t n = 0;
    do
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(taille);
}

// A request as it comes on a socket: its bytes in tampon, the pipe it carries
// in tube (-1 without). Returns the bytes read, 0 when the peer is gone.
ssize_t recevoir_demande(int socket, char *tampon, size_t place, int &tube, bool &entiere)
{
    tube = -1;
    for (;;) {
        iovec vecteur{tampon, place};
        alignas(cmsghdr) char controle[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &vecteur;
        message.msg_iovlen = 1;
        message.msg_control = controle;
        message.msg_controllen = sizeof controle;
        const ssize_t n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
                std::memcpy(&tube, CMSG_DATA(c), sizeof tube);
        }
        entiere = !(message.msg_flags & (MSG_TRUNC | MSG_CTRUNC));
        return std::max<ssize_t>(n, 0);
    }
}

// A mail of the usual kinds, read once by the reader itself before it serves:
// the symbols the parser calls are bound, its first-use tables made and the
// heap grown in the reader, so that no child does that work again per mail.
constexpr char kMailRodage[] =
    "From: =?UTF-8?Q?Andr=C3=A9?= <andre@example.org>\r\n"
    "To: tramelon@example.org\r\nSubject: =?ISO-8859-1?Q?Actions_=E9t=E9?=\r\n"
    "Message-ID: <rodage@example.org>\r\nReferences: <a@example.org>\r\n"
    "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
    "--m\r\nContent-Type: multipart/alternative; boundary=\"a\"\r\n\r\n"
    "--a\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n\r\nCommande:run.bat;=0D=0ACode:X=C3=A9;\r\n"
    "--a\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nPHA+6TwvcD4=\r\n--a--\r\n"
    "--m\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\r\n\r\nAAEC\r\n--m--\r\n";

void roder()
{
    const int fichier = ::memfd_create("lecture", MFD_CLOEXEC);
    if (fichier < 0)
        return;
    if (::write(fichier, kMailRodage, sizeof kMailRodage - 1) ==
        static_cast<ssize_t>(sizeof kMailRodage - 1)) {
        if (const std::optional<Pop3Message> mail =
                read_mail_file(QStringLiteral("/proc/self/fd/%1").arg(fichier)))
            encoder(*mail);
    }
    ::close(fichier);
}

// The child of one mail, forked when it came.
[[noreturn]] void lire_dans_enfant(int tube, const char *chemin, size_t taille,
                                   const Demande &demande, pid_t lecteur)
{
    devenir_enfant(lecteur);
    lire_et_repondre(tube, chemin, taille, demande);
}

// Whether a request comes on the socket within that time (or the wait is
// broken by a signal).
bool demande_avant(int socket, int millisecondes)
{
    pollfd attente{socket, POLLIN, 0};
    return ::poll(&attente, 1, millisecondes) != 0;
}

// The child of the next mail, forked ahead while no mail waits: it makes its
// own copy of the pages the parse writes (the mail read to warm up) before
// the mail comes, so that its reading costs what it would in the reader.
[[noreturn]] void attendre_en_reserve(int canal, pid_t lecteur)
{
    devenir_enfant(lecteur);
    garder_seul(canal); // in the place of the server's socket, which goes
    // A mail that comes before the warm-up is read as it is.
    if (!demande_avant(kDescripteur, kReserveDiffereeMs))
        roder();
    alignas(Demande) char tampon[sizeof(Demande) + kCheminMax];
    int tube = -1;
    bool entiere = false;
    const ssize_t n = recevoir_demande(kDescripteur, tampon, sizeof tampon, tube, entiere);
    if (tube < 0 || !entiere || static_cast<size_t>(n) < sizeof(Demande))
        ::_exit(127);
    Demande demande{};
    std::memcpy(&demande, tampon, sizeof demande);
    lire_et_repondre(tube, tampon + sizeof demande, static_cast<size_t>(n) - sizeof demande,
                     demande);
}

// The peak resident size, in KiB, of a child that has not ended: what wait4
// will say of it. 0 when it cannot be read.
qint64 pic_vivant(pid_t enfant)
{
    char chemin[64];
    std::snprintf(chemin, sizeof chemin, "/proc/%d/status", static_cast<int>(enfant));
    const int fd = ::open(chemin, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char texte[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, texte, sizeof texte - 1)) < 0 && errno == EINTR) {
    }
    ::close(fd);
    if (n <= 0)
        return 0;
    texte[n] = '\0';
    const char *ligne = std::strstr(texte, "\nVmHWM:");
    return ligne ? std::strtoll(ligne + std::strlen("\nVmHWM:"), nullptr, 10) : 0;
}

struct Reserve {
    pid_t pid = 0;
    int canal = -1;
};

Reserve preparer_reserve(pid_t lecteur)
{
    int paire[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, paire) < 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(paire[0]);
        attendre_en_reserve(paire[1], lecteur);
    }
    ::close(paire[1]);
    if (pid < 0) {
        ::close(paire[0]);
        return {};
    }
    return {pid, paire[0]};
}

// Hands a mail's request to the child in reserve; false when that child is
// gone, reaped then.
// Waits for a child of the reader to end, killed first when tuer, and says
// how it ended as the server is told; enfant is 0 after.
Reponse recolter(pid_t &enfant, bool tuer)
{
    if (tuer)
        ::kill(enfant, SIGKILL);
    int statut = 0;
    rusage usage{};
    while (::wait4(enfant, &statut, 0, &usage) < 0 && errno == EINTR) {
    }
    enfant = 0;
    return Reponse{Type::Statut, statut, usage.ru_maxrss};
}

bool confier(Reserve &reserve, const char *tampon, size_t taille, int tube)
{
    const bool remis = envoyer_avec_tube(reserve.canal, tampon, taille, tube);
    ::close(reserve.canal);
    reserve.canal = -1;
    if (remis)
        return true;
    recolter(reserve.pid, true);
    return false;
}

// The reader's loop: one child at a time reads, the one in reserve when it
// is there, else one forked on Lire; reaped on Finir or Tuer, or a little
// after Lu, after which the next is put in reserve. It ends when the server closes its socket, or
// dies with it.
[[noreturn]] void servir()
{
    roder();
    const pid_t lecteur = ::getpid();
    Reserve reserve = preparer_reserve(lecteur);
    pid_t enfant = 0;
    // A child that answered waits to be ended; the dialogue of its mail goes
    // first, then a request of the server or a quiet moment ends it.
    pid_t en_attente = 0;
    const auto finir_attente = [&en_attente] {
        if (en_attente > 0)
            recolter(en_attente, true);
    };
    bool reserve_due = false;
    alignas(Demande) char tampon[sizeof(Demande) + kCheminMax];
    for (;;) {
        if ((reserve_due || en_attente > 0) && !demande_avant(kDescripteur, kReserveDiffereeMs)) {
            finir_attente();
            if (reserve_due)
                reserve = preparer_reserve(lecteur);
            reserve_due = false;
        }
        int tube = -1;
        bool entiere = false;
        const ssize_t n = recevoir_demande(kDescripteur, tampon, sizeof tampon, tube, entiere);
        if (n <= 0)
            ::_exit(0); // the server is gone
        finir_attente();
        Demande demande{};
        if (static_cast<size_t>(n) >= sizeof demande)
            std::memcpy(&demande, tampon, sizeof demande);
        if (demande.type == Type::Lire) {
            if (enfant > 0) // the server lost track of it: never two at once
                recolter(enfant, true);
            const bool entier = tube >= 0 && entiere;
            // With a child in reserve the server is told first: it then waits
            // on that child's answer alone, not on what the reader does after
            // the handoff (the child may well take this processor from it).
            const bool annonce = entier && reserve.pid > 0;
            if (annonce && !envoyer_reponse({Type::Lance, reserve.pid, 0}))
                ::_exit(0);
            pid_t pid = -1;
            int erreur = ENAMETOOLONG;
            if (annonce && confier(reserve, tampon, static_cast<size_t>(n), tube)) {
                pid = std::exchange(reserve.pid, 0);
            } else if (entier) {
                pid = ::fork();
                if (pid == 0)
                    lire_dans_enfant(tube, tampon + sizeof demande,
                                     static_cast<size_t>(n) - sizeof demande, demande, lecteur);
                erreur = errno;
            }
            if (tube >= 0)
                ::close(tube);
            if (pid > 0)
                enfant = pid;
            // Once announced, a failed fork shows as an answer that never came
            // and then as the status below.
            if (!annonce && !envoyer_reponse(pid > 0 ? Reponse{Type::Lance, pid, 0}
                                                     : Reponse{Type::Refus, erreur, 0}))
                ::_exit(0);
            continue;
        }
        if (tube >= 0)
            ::close(tube);
        if (demande.type == Type::Finir || demande.type == Type::Tuer || demande.type == Type::Lu) {
            // Asked after every Lance, even when no child could be forked after it.
            Reponse statut{Type::Statut, W_EXITCODE(127, 0), 0};
            if (enfant > 0 && demande.type == Type::Lu) {
                // A child still there has written its answer whole and waits
                // to be ended: it is said to have ended as it will.
                int fin = 0;
                rusage usage{};
                pid_t fini = 0;
                while ((fini = ::wait4(enfant, &fin, WNOHANG, &usage)) < 0 && errno == EINTR) {
                }
                if (fini == 0) {
                    statut = {Type::Statut, W_EXITCODE(0, 0), pic_vivant(enfant)};
                    en_attente = enfant;
                } else if (fini == enfant) {
                    statut = {Type::Statut, fin, usage.ru_maxrss};
                }
                enfant = 0;
            } else if (enfant > 0) {
                statut = recolter(enfant, demande.type == Type::Tuer);
            }
            if (!envoyer_reponse(statut))
                ::_exit(0);
            // Once the answer is on its way, and a little later: the server
            // does not wait for it.
            reserve_due = reserve.pid == 0;
        }
    }
}

// ---- In the server. ----

struct Lance {
    pid_t pid = -1;
    int socket = -1;
    QString echec;
};

// Forks a reader from the calling thread, which it dies with. par_exec: the
// child runs this program again in its reader mode, as a process with threads
// must before it can parse anything.
Lance fourcher(bool par_exec)
{
    int paire[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, paire) != 0)
        return {-1, -1, systeme("socketpair", errno)};
    const pid_t serveur = ::getpid();
    // What exec needs is made before the fork: after it, system calls only.
    std::vector<std::string> variables;
    std::vector<char *> environnement;
    char *arguments[] = {program_invocation_name, nullptr};
    if (par_exec) {
        const std::string prefixe = std::string(kVariable) + '=';
        for (char **v = environ; v && *v; ++v) {
            if (std::strncmp(*v, prefixe.c_str(), prefixe.size()) != 0)
                variables.emplace_back(*v);
        }
        variables.push_back(prefixe + std::to_string(serveur));
        for (std::string &variable : variables)
            environnement.push_back(variable.data());
        environnement.push_back(nullptr);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(paire[0]);
        if (!par_exec) {
            installer_lecteur(paire[1], serveur);
            servir();
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != serveur)
            ::_exit(127);
        // The socket crosses the exec, at its place; nothing else does.
        if (paire[1] != kDescripteur && ::dup2(paire[1], kDescripteur) < 0)
            ::_exit(127);
        ::fcntl(kDescripteur, F_SETFD, 0);
        fermer_au_dela(kDescripteur);
        ::execve("/proc/self/exe", arguments, environnement.data());
        envoyer_reponse({Type::Refus, errno, 0});
        ::_exit(127);
    }
    const int erreur = errno;
    ::close(paire[1]);
    if (pid < 0) {
        ::close(paire[0]);
        return {-1, -1, systeme("fork", erreur)};
    }
    return {pid, paire[0], {}};
}

// Readers started after the first come from this one thread, which lives as
// long as the process: a reader dies with the thread that forked it.
struct Lanceur {
    std::mutex verrou;
    std::condition_variable signal;
    bool en_route = false;
    bool demande = false;
    bool par_exec = false;
    std::optional<Lance> fait;
};

Lance lancer_depuis_le_lanceur(bool par_exec)
{
    static Lanceur *const lanceur =
        new Lanceur; // never destroyed: its thread may wait on it at exit
    std::unique_lock verrou(lanceur->verrou);
    if (!lanceur->en_route) {
        try {
            std::thread([] {
                std::unique_lock attente(lanceur->verrou);
                for (;;) {
                    lanceur->signal.wait(attente, [] { return lanceur->demande; });
                    lanceur->demande = false;
                    lanceur->fait = fourcher(lanceur->par_exec);
                    lanceur->signal.notify_all();
                }
            }).detach();
        } catch (const std::system_error &e) {
            return {-1, -1, QStringLiteral("thread : ") + QString::fromLocal8Bit(e.what())};
        }
        lanceur->en_route = true;
    }
    lanceur->par_exec = par_exec;
    lanceur->fait.reset();
    lanceur->demande = true;
    lanceur->signal.notify_all();
    lanceur->signal.wait(verrou, [] { return lanceur->fait.has_value(); });
    return *lanceur->fait;
}

// The server's side: one reader at a time, one request at a time.
struct Client {
    std::mutex verrou;
    pid_t pid = 0;
    int socket = -1;
    bool demarre = false; // demarrer_lecteur() ran: a new reader is this program run again
    QString defaut;       // what happened to the last reader, not said yet
    bool panne_dite = false;
    qint64 pic_kio = 0;
    // A child that answered whole is reaped while the server goes on: its
    // status comes before the reader's next answer.
    bool statut_attendu = false;
};

Client &client()
{
    static Client *const c = new Client; // never destroyed: a reading thread may outlive main
    return *c;
}

enum class Attente { Recue, Perdu, Delai, Annulee };

Attente recevoir(int socket, Reponse &reponse, const QDeadlineTimer &limite,
                 const std::function<bool()> &annule)
{
    for (;;) {
        if (annule && annule())
            return Attente::Annulee;
        pollfd attendu{socket, POLLIN, 0};
        const int n =
            ::poll(&attendu, 1, int(std::min<qint64>(kPasAttenteMs, limite.remainingTime())));
        if (n > 0) {
            const ssize_t lu = ::recv(socket, &reponse, sizeof reponse, 0);
            if (lu < 0 && errno == EINTR)
                continue;
            return lu == static_cast<ssize_t>(sizeof reponse) ? Attente::Recue : Attente::Perdu;
        }
        if (n < 0 && errno != EINTR)
            return Attente::Perdu;
        if (limite.hasExpired())
            return Attente::Delai;
    }
}

bool envoyer_demande(int socket, const Demande &demande, const QByteArray &chemin = {},
                     int tube = -1)
{
    QByteArray octets(reinterpret_cast<const char *>(&demande), sizeof demande);
    octets += chemin;
    return envoyer_avec_tube(socket, octets.constData(), static_cast<size_t>(octets.size()), tube);
}

// The status of the last child, when it is still to come.
bool recevoir_statut(Client &c)
{
    if (!c.statut_attendu)
        return true;
    Reponse reponse{};
    if (recevoir(c.socket, reponse, QDeadlineTimer(kDelaiLecteurMs), {}) != Attente::Recue ||
        reponse.type != Type::Statut)
        return false;
    c.statut_attendu = false;
    c.pic_kio = std::max(c.pic_kio, reponse.pic_kio);
    return true;
}

// The reader never speaks unasked: anything else to read is its end.
bool vivant(Client &c)
{
    if (c.socket < 0 || !recevoir_statut(c))
        return false;
    pollfd attendu{c.socket, POLLIN, 0};
    return ::poll(&attendu, 1, 0) == 0;
}

// Ends the reader (a child of its own goes with it) and says how it ended.
void perdre(Client &c, const QString &pourquoi = {})
{
    ::kill(c.pid, SIGKILL); // dead already, or no longer answering
    int statut = 0;
    pid_t fini = 0;
    while ((fini = ::waitpid(c.pid, &statut, 0)) < 0 && errno == EINTR) {
    }
    ::close(c.socket);
    c.statut_attendu = false;
    QString fin = pourquoi;
    if (fin.isEmpty() && fini == c.pid && WIFSIGNALED(statut))
        fin = QStringLiteral("tué par le signal %1").arg(WTERMSIG(statut));
    else if (fin.isEmpty() && fini == c.pid && WIFEXITED(statut))
        fin = QStringLiteral("sorti avec le code %1").arg(WEXITSTATUS(statut));
    c.defaut = QStringLiteral("le lecteur des messages (processus %1) s'est arrêté").arg(c.pid) +
               (fin.isEmpty() ? QString() : QStringLiteral(" (") + fin + u')');
    c.pid = 0;
    c.socket = -1;
}

// A reader that works, started when there is none; panne gets what is to be said.
bool assurer(Client &c, QString &panne)
{
    if (vivant(c))
        return true;
    if (c.socket >= 0)
        perdre(c);
    Lance lance = lancer_depuis_le_lanceur(c.demarre);
    if (lance.pid > 0 && c.demarre) {
        // A program run again must say it serves before it counts.
        Reponse pret{};
        c.pid = lance.pid;
        c.socket = lance.socket;
        const Attente attente =
            recevoir(lance.socket, pret, QDeadlineTimer(kDelaiLecteurMs * 2), {});
        if (attente != Attente::Recue || pret.type != Type::Pret) {
            lance.echec = attente == Attente::Recue && pret.type == Type::Refus
                              ? systeme("exec", pret.valeur)
                              : QStringLiteral("le programme relancé en lecteur ne répond pas");
            const QString defaut = c.defaut;
            perdre(c);
            c.defaut = defaut;
            lance.pid = -1;
        }
    }
    const QString defaut = std::exchange(c.defaut, QString());
    if (lance.pid > 0) {
        c.pid = lance.pid;
        c.socket = lance.socket;
        const QString nouveau = QStringLiteral("processus %1").arg(lance.pid);
        if (!defaut.isEmpty())
            panne = defaut + QStringLiteral(" ; un nouveau lecteur est lancé (") + nouveau + u')';
        else if (c.panne_dite)
            panne = QStringLiteral("le lecteur des messages est lancé (") + nouveau +
                    QStringLiteral(") : la boite est de nouveau relevée");
        c.panne_dite = false;
        return true;
    }
    if (!c.panne_dite) {
        panne = (defaut.isEmpty() ? QString() : defaut + QStringLiteral(" et ")) +
                QStringLiteral("le lecteur des messages n'a pas pu être lancé (") + lance.echec +
                QStringLiteral(") : la boite n'est pas relevée, les messages y restent jusqu'à "
                               "ce qu'un lecteur fonctionne");
        c.panne_dite = true;
    }
    return false;
}

void ajouter(QString &panne, const QString &texte)
{
    if (!texte.isEmpty())
        panne += (panne.isEmpty() ? QString() : QStringLiteral(" ; ")) + texte;
}

enum class Tentative { Faite, LecteurPerdu };

Tentative tenter(Client &c, const QByteArray &chemin, const Bornes &bornes, qint64 taille_sortie,
                 const std::function<bool()> &annule, Issue &issue)
{
    int tube[2];
    if (::pipe2(tube, O_CLOEXEC) != 0) {
        issue.fin = Issue::Fin::Impossible;
        issue.echec = systeme("pipe", errno);
        return Tentative::Faite;
    }
    const QDeadlineTimer limite(bornes.delai_ms);
    const bool envoyee = envoyer_demande(
        c.socket, {Type::Lire, bornes.secondes_cpu, bornes.memoire}, chemin, tube[1]);
    ::close(tube[1]);
    const int lecture = tube[0];
    const auto fermer = qScopeGuard([lecture] { ::close(lecture); });
    Reponse reponse{};
    if (!envoyee ||
        recevoir(c.socket, reponse, QDeadlineTimer(kDelaiLecteurMs), {}) != Attente::Recue) {
        perdre(c);
        return Tentative::LecteurPerdu;
    }
    if (reponse.type != Type::Lance) {
        perdre(c, reponse.type == Type::Refus ? systeme("fork", reponse.valeur)
                                              : QStringLiteral("réponse inattendue"));
        return Tentative::LecteurPerdu;
    }

    QByteArray sortie;
    Issue::Fin fin = Issue::Fin::Terminee;
    for (bool ouvert = true; ouvert;) {
        if (annule && annule()) {
            fin = Issue::Fin::Annulee;
            break;
        }
        if (limite.hasExpired()) {
            fin = Issue::Fin::Depassee;
            break;
        }
        pollfd attendus[2] = {{lecture, POLLIN, 0}, {c.socket, POLLIN, 0}};
        const int n =
            ::poll(attendus, 2, int(std::min<qint64>(kPasAttenteMs, limite.remainingTime())));
        if (n < 0 && errno != EINTR) {
            fin = Issue::Fin::Depassee;
            break;
        }
        if (n > 0 && attendus[1].revents != 0) {
            perdre(c); // and its child with it
            return Tentative::LecteurPerdu;
        }
        if (n > 0 && attendus[0].revents != 0) {
            char morceau[65536];
            const ssize_t lu = ::read(lecture, morceau, sizeof morceau);
            if (lu > 0)
                sortie.append(morceau, lu);
            else if (lu == 0 || errno != EINTR)
                ouvert = false;
            // Whole: the child's end of the pipe, and the reader's copy of it,
            // can close when they will.
            if (lu > 0 && reponse_entiere(sortie))
                ouvert = false;
            if (sortie.size() > taille_sortie) {
                fin = Issue::Fin::Depassee;
                break;
            }
        }
    }
    const bool tuer = fin != Issue::Fin::Terminee;
    if (!tuer && reponse_entiere(sortie)) {
        // Whole: the child has done its work, and its end is the reader's.
        c.statut_attendu = envoyer_demande(c.socket, {Type::Lu, 0, 0});
        if (!c.statut_attendu)
            perdre(c, QStringLiteral("il ne répondait plus"));
        issue.fin = fin;
        issue.statut = 0;
        issue.sortie = std::move(sortie);
        return Tentative::Faite;
    }
    if (!envoyer_demande(c.socket, {tuer ? Type::Tuer : Type::Finir, 0, 0}) ||
        recevoir(c.socket, reponse, QDeadlineTimer(kDelaiLecteurMs), {}) != Attente::Recue ||
        reponse.type != Type::Statut) {
        perdre(c, QStringLiteral("il ne répondait plus"));
        if (!tuer)
            return Tentative::LecteurPerdu;
    }
    c.pic_kio = std::max(c.pic_kio, reponse.pic_kio);
    issue.fin = fin;
    issue.statut = reponse.valeur;
    issue.sortie = std::move(sortie);
    return Tentative::Faite;
}

} // namespace

void demarrer_lecteur()
{
    if (const char *serveur = std::getenv(kVariable)) {
        // This program run again as the reader of a running server.
        installer_lecteur(kDescripteur, static_cast<pid_t>(std::atol(serveur)));
        if (!envoyer_reponse({Type::Pret, 0, 0}))
            ::_exit(0);
        servir();
    }
    Client &c = client();
    const std::lock_guard verrou(c.verrou);
    c.demarre = true;
    const Lance lance = fourcher(false);
    if (lance.pid > 0) {
        c.pid = lance.pid;
        c.socket = lance.socket;
    } else {
        c.defaut = QStringLiteral("le lecteur des messages n'a pas pu être lancé au démarrage (") +
                   lance.echec + u')';
    }
}

EtatLecteur verifier_lecteur()
{
    Client &c = client();
    // A read in flight has its reader; a process that started none gets one
    // at its first read.
    std::unique_lock verrou(c.verrou, std::try_to_lock);
    if (!verrou.owns_lock() || !c.demarre)
        return {};
    EtatLecteur etat;
    etat.pret = assurer(c, etat.panne);
    return etat;
}

Issue faire_lire(const QString &chemin, const Bornes &bornes, qint64 taille_sortie,
                 const std::function<bool()> &annule)
{
    Client &c = client();
    const std::lock_guard verrou(c.verrou);
    Issue issue;
    const QByteArray nom = QFile::encodeName(chemin);
    if (static_cast<size_t>(nom.size()) > kCheminMax) {
        issue.echec = QStringLiteral("chemin trop long");
        return issue;
    }
    // A reader lost during a request had not read the mail itself: one more
    // try with a new one.
    for (int essai = 0; essai < 2; ++essai) {
        QString panne;
        const bool pret = assurer(c, panne);
        ajouter(issue.panne, panne);
        if (!pret) {
            issue.echec = QStringLiteral("pas de lecteur des messages");
            return issue;
        }
        if (tenter(c, nom, bornes, taille_sortie, annule, issue) == Tentative::Faite)
            return issue;
    }
    QString panne;
    assurer(c, panne); // says how the second one ended, and has a third ready
    ajouter(issue.panne, panne);
    issue.fin = Issue::Fin::Impossible;
    issue.echec = QStringLiteral("le lecteur des messages s'est arrêté pendant la lecture");
    return issue;
}

pid_t pid_lecteur()
{
    Client &c = client();
    const std::lock_guard verrou(c.verrou);
    return c.pid;
}

qint64 pic_memoire_enfants_kio()
{
    Client &c = client();
    const std::lock_guard verrou(c.verrou);
    if (!recevoir_statut(c) && c.socket >= 0)
        perdre(c, QStringLiteral("il ne répondait plus"));
    return std::exchange(c.pic_kio, 0);
}

} // namespace lecture_bornee
