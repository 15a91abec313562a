#pragma once

#include <QByteArray>
#include <QString>

#include <QtGlobal>

// How a launched batch file ended, and the texts that tell it: the line of the
// journal and message log, and the result mail sent to the command's sender.
struct IssueLancement {
    enum class Genre {
        Code,        // it exited with a code
        Signal,      // a signal stopped it
        Inconnue,    // it ended, but how is not known
        Interrompue, // the server stopped while it ran: its end is not known
    };
    Genre genre = Genre::Code;
    int valeur = 0;               // the code or the signal
    qint64 duree_ms = 0;          // from its launch to its end
    int duree_max_depassee = 0;   // the limit it outlived, in seconds; 0 when none
    bool tournait_encore = false; // interrupted, and still running at the restart
};

// Lines of output a result mail shows at most, and characters.
inline constexpr int kLignesSortie = 20;
inline constexpr qsizetype kCaracteresSortie = 2000;

// "<commande> terminée : code N en D s", "<commande> terminée : arrêtée par le
// signal S en D s", "<commande> interrompue : ...", with the limit it outlived.
QString ligne_fin(const QString &commande, const IssueLancement &issue);

// "<commande> dépasse sa durée maximale de N s : elle est arrêtée"
QString ligne_depassement(const QString &commande, int duree_max);

// The result mail's subject: the reply's subject base ("Re:" and the
// command mail's subject), then " (resultat n ", the number of the command's
// reply with its sign place, and " )".
QString objet_resultat(const QString &objet_reponse, qint16 numero);

// The last kLignesSortie lines of an output's end, joined by CR LF, at most
// kCaracteresSortie characters (the last ones, from a line's start where
// possible); every control or format character shows as "?", a tab as a blank.
QString fin_de_sortie(const QByteArray &octets);

// The result mail's text: the command, how it ended, the end of its output.
// Begins with one blank, as the replies do, and ends with no line break.
QString texte_resultat(const QString &commande, const IssueLancement &issue,
                       const QString &fin_sortie);
