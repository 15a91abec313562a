#include "server/mail/suivi_lancements.h"

#include "common/blancs.h"
#include "platform/shell_launch.h"
#include "server/frame/affichage.h"
#include "server/mail/reply_mail.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>

namespace {

constexpr qint32 kLancementReussi = 32; // the shell answers above this on success
// While a tick's mail call runs, an end waits this long before it is tried again.
constexpr int kRelanceMs = 100;
// After an outbox that could not store a result: the next try.
constexpr int kRelanceEchecMs = 60 * 1000;
// Where the kernel gives no pidfd, how often a running batch file is looked at.
constexpr int kSondageMs = 250;
// Enough of an output's end for its last lines.
constexpr qint64 kFinLue = 64 * 1024;

QByteArray lit_fin(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 debut = qMax(qint64(0), file.size() - kFinLue);
    file.seek(debut);
    QByteArray octets = file.read(kFinLue);
    // A line cut by the start of what was read is not shown.
    if (debut > 0)
        octets.remove(0, octets.indexOf('\n') + 1);
    return octets;
}

// The command as a file name: it names a file of the actions folder, yet
// nothing of a mail goes unchecked into a path.
QString nom_sur(const QString &commande)
{
    QString nom = commande.left(100);
    for (QChar &c : nom) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            c = u'_';
    }
    return nom;
}

} // namespace

SuiviLancements::SuiviLancements(ServerState &state, Affichage &affichage, Horloge horloge,
                                 QObject *parent)
    : QObject(parent), m_state(state), m_horloge(horloge),
      m_signalement(state, affichage, std::move(horloge)),
      m_boite_envoi(state.rep_appli + QStringLiteral("outbox")),
      m_record(dossier_sorties(state.rep_appli) + QStringLiteral("en_cours.dat"))
{
    m_relance.setSingleShot(true);
    connect(&m_relance, &QTimer::timeout, this, &SuiviLancements::planifie);
}

SuiviLancements::~SuiviLancements()
{
    // The batch files run on; only the server's hold on them goes.
    for (auto &[pid, suivi] : m_suivis)
        libere(*suivi);
}

QString SuiviLancements::dossier_sorties(const QString &rep_appli)
{
    return rep_appli + QStringLiteral("sorties/");
}

void SuiviLancements::relier(HorsCycle hors_cycle, Envoi envoi)
{
    m_hors_cycle = std::move(hors_cycle);
    m_envoi = std::move(envoi);
}

void SuiviLancements::demarrer(const ReglagesResultat &reglages)
{
    m_reglages = reglages;
    QString erreur;
    if (!m_record.charger(&erreur))
        m_signalement.erreur(erreur);
    for (const LancementEnCours &l : m_record.entrees()) {
        Fin fin{l, {}, fin_de_sortie(lit_fin(l.sortie))};
        fin.issue.genre = IssueLancement::Genre::Interrompue;
        // Still running if its number names the same process as before.
        fin.issue.tournait_encore = l.pid > 0 && !l.debut_processus.isEmpty() &&
                                    platform::debut_processus(l.pid) == l.debut_processus;
        m_signalement.information(ligne_fin(l.commande, fin.issue));
        m_fins.append(fin);
    }
    // Sent once the event loop runs, not in the middle of the start-up.
    if (!m_fins.isEmpty())
        m_relance.start(0);
}

void SuiviLancements::arreter()
{
    m_relance.stop();
    traite_fins(false);
}

QString SuiviLancements::nouvelle_sortie(const QString &commande, const QDateTime &moment,
                                         int *fd) const
{
    const QString dossier = dossier_sorties(m_state.rep_appli);
    if (!QDir().mkpath(dossier))
        return {};
    QFile::setPermissions(dossier,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString base =
        dossier + moment.toString(QStringLiteral("yyyyMMdd_HHmmss")) + u'_' + nom_sur(commande);
    // Two launches of one command within a second each get a file.
    for (int n = 1; n <= 100; ++n) {
        const QString path =
            base + (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".txt");
        *fd = platform::cree_sortie(path);
        if (*fd >= 0)
            return path;
    }
    return {};
}

qint32 SuiviLancements::lance(const MessageEnCours &m, std::optional<qint16> numero)
{
    const QDateTime moment = m_horloge();
    LancementEnCours l;
    l.debut = moment.toUTC();
    l.commande = m.commande;
    l.duree_max = m_reglages.duree_max;
    l.avec_resultat = m_reglages.resultat && numero.has_value();
    l.expediteur = m.expediteur;
    l.objet = m.objet;
    l.numero = numero.value_or(0);
    l.message_id = m.message_id;
    l.references = m.references;
    int fd = -1;
    l.sortie = nouvelle_sortie(m.commande, moment, &fd);
    if (fd < 0)
        m_signalement.erreur(QStringLiteral("la sortie de ") + m.commande +
                             QStringLiteral(" ne peut être gardée : impossible de créer un "
                                            "fichier dans ") +
                             dossier_sorties(m_state.rep_appli));

    // On the record before the batch file runs: a server killed from here on
    // reports it once when it starts again.
    bool enregistre = false;
    const platform::LancementSuivi lancement = platform::lance_suivi(
        m.commande, m_state.rep_actions, fd, [this, &l, &enregistre](qint64 pid) {
            l.pid = pid;
            l.id = QStringLiteral("%1-%2").arg(pid).arg(l.debut.toMSecsSinceEpoch());
            l.debut_processus = platform::debut_processus(pid);
            QString erreur;
            enregistre = m_record.ecrire(l, &erreur);
            if (!enregistre)
                m_signalement.erreur(erreur);
        });
    platform::ferme_sortie(fd);
    if (lancement.resultat > kLancementReussi && lancement.pid > 0) {
        suit(l, lancement.pidfd);
        return lancement.resultat;
    }
    // Nothing of the batch file ran: nothing to follow, nothing to report.
    QString erreur;
    if (enregistre && !m_record.retirer(l.id, &erreur))
        m_signalement.erreur(erreur);
    if (!l.sortie.isEmpty() && QFile(l.sortie).size() == 0)
        QFile::remove(l.sortie);
    return lancement.resultat;
}

void SuiviLancements::suit(const LancementEnCours &lancement, int pidfd)
{
    const qint64 pid = lancement.pid;
    auto suivi = std::make_unique<Suivi>();
    suivi->lancement = lancement;
    suivi->chrono.start();
    suivi->pidfd = pidfd;
    if (pidfd >= 0) {
        suivi->notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
        connect(suivi->notifier, &QSocketNotifier::activated, this, [this, pid] { verifie(pid); });
    } else {
        suivi->sondage = new QTimer(this);
        connect(suivi->sondage, &QTimer::timeout, this, [this, pid] { verifie(pid); });
        suivi->sondage->start(kSondageMs);
    }
    if (lancement.duree_max > 0) {
        suivi->limite = new QTimer(this);
        suivi->limite->setSingleShot(true);
        connect(suivi->limite, &QTimer::timeout, this, [this, pid] { depasse(pid); });
        suivi->limite->start(lancement.duree_max * 1000);
    }
    m_suivis[pid] = std::move(suivi);
}

void SuiviLancements::libere(Suivi &suivi)
{
    // Called from their own signals: deleted once back in the event loop.
    if (suivi.notifier) {
        suivi.notifier->setEnabled(false);
        suivi.notifier->deleteLater();
    }
    for (QTimer *minuteur : {suivi.sondage, suivi.limite}) {
        if (minuteur) {
            minuteur->stop();
            minuteur->deleteLater();
        }
    }
    platform::ferme_sortie(suivi.pidfd);
}

void SuiviLancements::depasse(qint64 pid)
{
    const auto it = m_suivis.find(pid);
    if (it == m_suivis.end())
        return;
    Suivi &suivi = *it->second;
    suivi.arret_demande = true;
    m_signalement.information(
        ligne_depassement(suivi.lancement.commande, suivi.lancement.duree_max));
    platform::signale_groupe(pid, SIGTERM);
    // Whatever of the group is still there then is killed.
    QTimer::singleShot(kDelaiSigkillMs, this, [pid] { platform::signale_groupe(pid, SIGKILL); });
}

void SuiviLancements::verifie(qint64 pid)
{
    const auto it = m_suivis.find(pid);
    if (it == m_suivis.end())
        return;
    const std::optional<platform::FinProcessus> fin = platform::fin_processus(pid);
    if (!fin)
        return;
    Suivi &suivi = *it->second;
    IssueLancement issue;
    issue.genre = fin->inconnue ? IssueLancement::Genre::Inconnue
                  : fin->signal ? IssueLancement::Genre::Signal
                                : IssueLancement::Genre::Code;
    issue.valeur = fin->valeur;
    issue.duree_ms = suivi.chrono.elapsed();
    issue.duree_max_depassee = suivi.arret_demande ? suivi.lancement.duree_max : 0;
    m_signalement.information(ligne_fin(suivi.lancement.commande, issue));
    m_fins.append({suivi.lancement, issue, fin_de_sortie(lit_fin(suivi.lancement.sortie))});
    libere(suivi);
    m_suivis.erase(it);
    planifie();
}

void SuiviLancements::planifie()
{
    if (m_fins.isEmpty())
        return;
    // Stored and sent between the cycle's steps: the reply of a command stored
    // at the step that launched it goes before its result.
    const auto travail = [this] { traite_fins(true); };
    if (!m_hors_cycle)
        travail();
    else if (!m_hors_cycle(travail))
        m_relance.start(kRelanceMs);
}

bool SuiviLancements::stocke(const Fin &fin)
{
    const LancementEnCours &l = fin.lancement;
    // Stored before a crash that kept it on the record: not a second time.
    if (!l.avec_resultat || m_boite_envoi.contient(l.id))
        return true;
    const QString texte = texte_resultat(l.commande, fin.issue, fin.fin_sortie);
    ReplyContent contenu;
    contenu.from = enleve_blancs(m_state.adresse_reponse);
    contenu.to = l.expediteur;
    contenu.subject = objet_resultat(QStringLiteral("Re:") + l.objet, l.numero);
    contenu.text = texte;
    contenu.html = texte;
    contenu.inReplyTo = l.message_id;
    contenu.references = l.references;
    contenu.date = m_horloge();
    const ComposedMail mail{contenu.from, contenu.to, compose_reply(contenu)};
    if (m_boite_envoi.ajoute(l.numero, mail, m_horloge().toUTC(), l.id))
        return true;
    m_signalement.erreur(m_boite_envoi.erreur() + QStringLiteral(" (résultat de ") + l.commande +
                         QStringLiteral(", nouvel essai dans une minute)"));
    return false;
}

void SuiviLancements::traite_fins(bool envoyer)
{
    bool stockes = false;
    while (!m_fins.isEmpty()) {
        const Fin &fin = m_fins.first();
        if (!stocke(fin)) {
            m_relance.start(kRelanceEchecMs);
            break;
        }
        stockes = stockes || fin.lancement.avec_resultat;
        // Off the record once its result waits in the outbox.
        QString erreur;
        if (!m_record.retirer(fin.lancement.id, &erreur))
            m_signalement.erreur(erreur);
        m_fins.removeFirst();
    }
    if (stockes && envoyer && m_envoi)
        m_envoi();
}
