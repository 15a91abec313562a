#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Preparing a client folder for Kestrine: the key file and the preparation
// tool's executable are copied from the server's folder, and filebat.dat lists
// the batch files of the actions directory.
namespace provisioning {

// The preparation tool as it lies in the server's folder.
QString executable_defaut();

// The chosen directory, then the sub-directory name (blanks around it removed)
// with its final separator. An empty name gives the chosen directory itself, and
// a final "\" or "/" typed with the name is taken as that separator, so that no
// doubled separator is ever formed. Nothing when the name cannot be one folder of
// the chosen directory: a separator inside it, "." or "..", a lone separator.
std::optional<QString> chemin_cible(const QString &chemin_choisi, const QString &nom);

// What the window shows for a sub-directory name that chemin_cible refuses: the
// name as typed after the chosen directory, so the operator sees what is wrong.
QString cible_refusee(const QString &chemin_choisi, const QString &nom);

struct Demande {
    QString rep_appli;   // where clefs.dat and the executable are taken
    QString rep_actions; // whose "*.bat" names make up filebat.dat
    QString cible;       // the target directory, with its final separator
    bool creer_cible = false;
    QString executable;
};

enum class Issue {
    Fait,                 // three files in the target
    AucunFichierCommande, // the two copies made, no batch file to list
    Echec,                // a file could not be copied, listed or written
};

// Copies clefs.dat and the executable (replacing copies already there, the run
// permission kept) and writes filebat.dat, in that order; stops at the first
// failure, leaving what was already done. The executable is the one installed
// beside the running program when there is one, else the server folder's; a
// source that is a symbolic link or not a regular file is a failure.
Issue preparer(const Demande &demande);

} // namespace provisioning
