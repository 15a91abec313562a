#pragma once

#include <QString>

// One server per folder: two would poll the same mailbox and strike the same
// keys. The lock is flock() on "tramelon.verrou" in the folder, which holds
// the process id of its owner; the kernel drops it when that process ends,
// however it ends, so a crash leaves no stale lock. The descriptor is
// close-on-exec: a batch file, and whatever it leaves running, never holds it.
class VerrouDossier
{
public:
    static constexpr char16_t kNomFichier[] = u"tramelon.verrou";

    VerrouDossier() = default;
    ~VerrouDossier();
    VerrouDossier(const VerrouDossier &) = delete;
    VerrouDossier &operator=(const VerrouDossier &) = delete;

    enum class Issue {
        Pris,
        Occupe,     // another process holds it
        Impossible, // the lock file cannot be made or opened by this user
    };
    // Takes the lock of the folder (given with its final separator); unless
    // it was taken, erreur says why in French.
    Issue prendre(const QString &rep_appli, QString *erreur);

private:
    int m_fd = -1;
};
