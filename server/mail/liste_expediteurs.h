#pragma once

#include <QString>
#include <QStringList>

// The senders allowed to command the server, as the "autorises" setting lists
// them: addresses and "*@domaine" patterns separated by commas (semicolons and
// blanks also separate), letter case ignored. A pattern covers its domain
// only, not the domains below it. An entry that is no address matches nobody.
class ListeExpediteurs
{
public:
    explicit ListeExpediteurs(const QString &autorises);

    // No entry at all: everyone may command.
    bool vide() const { return m_entrees.isEmpty(); }
    bool autorise(const QString &adresse) const;

private:
    QStringList m_entrees; // lower case, domains in ASCII
};
