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

    // Takes the lock of the folder (given with its final separator). False,
    // with erreur set in French, when another process holds it or the lock
    // file cannot be made.
    bool prendre(const QString &rep_appli, QString *erreur);

private:
    int m_fd = -1;
};
