#pragma once

#include "server/frame/horloge.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QtGlobal>

// The colours of the activity lamp (Label1).
enum class Lampe {
    Eteinte,  // the window's button face
    Verte,    // the mailbox is being worked on
    VertClair // a reply went out in this cycle
};

// One entry of the mailbox listing, as lvwmessages shows it.
struct LigneBoite {
    qint32 numero = 0; // ID
    qint32 taille = 0; // Size
    QString uidl;      // UIDL
};

// The main window's fields: what the server shows (the sender, subject and
// body of the mail under processing, the logs, the mailbox listing). The mail
// itself travels between the steps of a cycle as a MessageEnCours; these
// fields only show it.
struct ChampsFenetre {
    Lampe Label1 = Lampe::Eteinte;
    QString Label4 = QStringLiteral("Label4"); // session state
    QString Label5 = QStringLiteral("Label5");
    QString Label6 = QStringLiteral("Label6");   // message count
    QString Label7 = QStringLiteral("Label7");   // mailbox size
    QString Label8 = QStringLiteral("Label8");   // sender of the mail under processing
    QString Label9 = QStringLiteral("Label9");   // its subject
    QString Label10 = QStringLiteral("Label10"); // command
    QString Label11 = QStringLiteral("Label11"); // code
    QString Label12 = QStringLiteral("Label12"); // launch result
    QString Label14;                             // sequencer step
    QString Text2 = QStringLiteral("Text2");     // SMTP log
    QString Text3 = QStringLiteral("  \r\n");    // dated message log
    QString txtstatus = QStringLiteral("Text1"); // POP3 status log
    QString Text5 = QStringLiteral("Text1");     // body of the mail under processing
    QList<LigneBoite> lvwmessages;               // the first entry is the one processed
    QString sonnette;                            // the doorbell's state; empty without a doorbell
    QString releve;                              // the polling's state, as systemd shows it
};

// How much a line of the message log matters to whoever reads the server's
// log without its window: the system journal's priorities, by their numbers.
enum class Niveau {
    Erreur = 3,        // a fault
    Avertissement = 4, // a change of state the operator should know (polling spaced out)
    Information = 6,   // a judged mail, a state back to normal, the start-up
    Trace = 7,         // the mail dialogues, shown on request only
};

// The fields that change one by one.
enum class Champ {
    Label1,
    Label4,
    Label5,
    Label6,
    Label7,
    Label8,
    Label9,
    Label10,
    Label11,
    Label12,
    Label14,
    Text2,
    Text3,
    txtstatus,
    Text5,
    lvwmessages,
    sonnette,
    releve
};

// Holds the main window's fields and says when one changes: the window shows
// them, a server without a window prints the logs' new lines.
class Affichage : public QObject
{
    Q_OBJECT

public:
    explicit Affichage(Horloge horloge = horloge_systeme(), QObject *parent = nullptr)
        : QObject(parent), m_horloge(std::move(horloge))
    {
    }

    const ChampsFenetre &champs() const { return m_champs; }

    // A label or a text box takes a new text.
    void fixer(Champ champ, const QString &texte);
    void vider(Champ champ) { fixer(champ, QString()); }
    // Text at the end of a log box (Text2, Text3, txtstatus).
    void ajouter(Champ champ, const QString &texte);
    void allumer(Lampe couleur);
    void fixer_liste(const QList<LigneBoite> &lignes);
    void retirer_ligne(qsizetype index);

    // A dated line of the server's own in Text3; the log is emptied first when it
    // has grown past 1000 characters, so it never grows without end.
    void information(const QString &texte);
    // The same, as an error.
    void erreur(const QString &texte);
    // The same, as a warning: no fault, but a change the operator must see.
    void avertissement(const QString &texte);
    // An error of the mailbox session: "Error N: ..." in the log, as the
    // window has always shown it, and said in French to the system journal.
    void erreur_session(qint16 numero, const QString &description);
    // A line for the system journal alone (the window shows the same facts
    // in its own fields): the outcome of a judged mail.
    void journal_systeme(Niveau niveau, const QString &texte) { Q_EMIT signale(niveau, texte); }

Q_SIGNALS:
    // The field holds a new value.
    void modifie(Champ champ);
    // The field is what it was plus this text at its end.
    void ajoute(Champ champ, const QString &texte);
    // A line of the message log, undated and as the system journal takes it,
    // with how much it matters.
    void signale(Niveau niveau, const QString &texte);

private:
    QString &texte(Champ champ);
    void ligne(Niveau niveau, const QString &pour_fenetre, const QString &pour_journal);

    Horloge m_horloge;
    ChampsFenetre m_champs;
};
