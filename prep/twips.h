#pragma once

#include <QStringView>
#include <QWidget>

namespace kestrine {

// Window geometry is laid out in twips, 15 of them to a pixel.
constexpr int twips(int t)
{
    return t / 15;
}

inline void nommer_et_placer(QWidget *w, QStringView name, int left, int top, int width,
                             int height)
{
    w->setObjectName(name.toString());
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

} // namespace kestrine
