#pragma once

#include "server/mail/etat_releve.h"

#include <QString>

#include <optional>

// etat.txt in the server folder: the server's state as it stood at the end
// of the last cycle, for `tramelon --etat` to show at a terminal what
// `systemctl status` shows. Rewritten whole at each cycle, never half.
namespace fichier_etat {

QString chemin(const QString &rep_appli);

// The file's text: the state line, then when it was taken and by which process.
QString contenu(const EtatReleve &etat, qint64 pid);
[[nodiscard]] bool ecrire(const QString &rep_appli, const EtatReleve &etat,
                          QString *erreur = nullptr);

// What `tramelon --etat` prints: the file, and whether its process still
// runs; nothing when the server never wrote it (erreur says why).
std::optional<QString> lire(const QString &rep_appli, QString *erreur);

} // namespace fichier_etat
