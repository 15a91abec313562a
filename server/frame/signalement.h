#pragma once

#include "server/frame/horloge.h"

#include <QString>
#include <QStringList>

class Affichage;
struct ServerState;

// The one way the server reports what it meets while it works: a dated line
// in the message log (Text3), then the same text in the journal, both at the
// server's clock. A journal that cannot be written is said in the log.
class Signalement
{
public:
    Signalement(const ServerState &state, Affichage &affichage, Horloge horloge);

    // A fault: "Erreur : " and the text in the log, the text in the journal.
    void erreur(const QString &texte) const;
    // Something worth keeping that is no fault (a mail not answered, one
    // deleted unjudged because it was judged before).
    void information(const QString &texte) const;
    // A change of state the operator must see (the polling spaced out or back).
    void avertissement(const QString &texte) const;
    // Only the journal: an outcome whose log line was already written.
    void journal(const QString &texte) const;
    // An entry of several lines: an answer text, line by line.
    void journal(const QStringList &lignes) const;

    QDateTime maintenant() const { return m_horloge(); }

private:
    const ServerState &m_state;
    Affichage &m_affichage;
    Horloge m_horloge;
};
