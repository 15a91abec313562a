#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace platform {

// The file list box of the choosers: the bare names of the files of one
// directory that match a pattern such as "*.bat" (letter case ignored), sorted
// by name with letter case ignored.
class FileList : public QListWidget
{
    Q_OBJECT

public:
    explicit FileList(QWidget *parent = nullptr);

    void setPath(const QString &directory);
    QString path() const;
    // One pattern or several separated by ";", for instance "*.bat;*.cmd".
    void setPattern(const QString &pattern);
    QString pattern() const;

    // The name shown at row i; count() gives the number of rows.
    QString fileName(int i) const;
    QStringList fileNames() const;

    void refresh();

private:
    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
};

} // namespace platform
