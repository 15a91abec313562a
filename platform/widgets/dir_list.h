#pragma once

#include <QListWidget>
#include <QString>

namespace platform {

// The directory list box of the choosers: ".." then the sub-directories of the
// current directory; activating an entry (double click, Enter) opens it.
class DirList : public QListWidget
{
    Q_OBJECT

public:
    explicit DirList(QWidget *parent = nullptr);

    // Shows this directory; changed() is emitted when it differs from the one
    // shown, the first setting included. False (and nothing changes) when it
    // cannot be listed.
    bool setPath(const QString &directory);
    // The directory shown, absolute, with "/" separators and no final one except
    // for a root; empty before the first setPath.
    QString path() const;

    // Lists the shown directory again.
    void refresh();

Q_SIGNALS:
    void changed(const QString &path);

private:
    void open(QListWidgetItem *item);

    QString m_path;
};

} // namespace platform
