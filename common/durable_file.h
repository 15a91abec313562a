#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

// Writes that either reach the disk whole or change nothing. Every byte written
// is checked, flushed and synced before it replaces or extends anything, so a
// full disk or a crash can never leave an emptied key file or a half line.
namespace durable {

inline constexpr QFileDevice::Permissions kProprietaireSeul =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Replaces the file with content: written beside it (readable by the owner
// only while it is written), checked for its size, synced, then renamed over
// the old one. The new file gets the permissions given, else those the operator
// gave the old file, else it is readable by its owner only. On failure the old
// file is left whole and error (when given) says why, in French.
bool remplacer(const QString &path, const QByteArray &content, QString *error = nullptr,
               std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Appends bytes to the file, created readable by its owner only. On failure
// the file is cut back to its former length: nothing half-written remains.
bool ajouter(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// A rename is durable only once the folder that holds the name is synced too:
// syncs the folder of path.
void synchroniser_dossier(const QString &path);

} // namespace durable
