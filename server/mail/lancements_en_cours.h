#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <QtGlobal>

// One batch file launched and followed: what its end must be told with.
struct LancementEnCours {
    QString id;              // names it in this record and in the outbox
    qint64 pid = 0;          // its process group and session too; 0 until started
    QString debut_processus; // the kernel's start time of pid, to tell a later process
    QDateTime debut;         // UTC, just before it was started
    QString commande;        // the batch file, as the mail named it
    QString sortie;          // the file its output goes to
    int duree_max = 0;       // seconds, 0 for no limit
    // The result mail: to whom, in answer to what, under which number.
    bool avec_resultat = false;
    QString expediteur;
    QString objet; // the command mail's subject, blanks kept
    qint16 numero = 0;
    QByteArray message_id;
    QList<QByteArray> references;
};

// The batch files launched and not yet reported, in one small file of the
// server's folder, rewritten whole and durably at each change. A batch file is
// on it before it runs and leaves it once its end is journalled and its result
// mail stored in the outbox; one still on it when the server starts again was
// running when the server stopped.
class LancementsEnCours
{
public:
    explicit LancementsEnCours(QString chemin);

    // Reads the record; a missing file is an empty record. A file that cannot
    // be read is set aside (renamed *.illisible), and erreur says so.
    bool charger(QString *erreur);
    const QList<LancementEnCours> &entrees() const { return m_entrees; }

    // Adds or replaces the entry of that id; false when it could not be put
    // on disk (erreur says why): the record in memory has it all the same.
    bool ecrire(const LancementEnCours &lancement, QString *erreur);
    bool retirer(const QString &id, QString *erreur);

    QString chemin() const { return m_chemin; }

private:
    bool sauver(QString *erreur) const;

    QString m_chemin;
    QList<LancementEnCours> m_entrees;
};
