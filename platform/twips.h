#pragma once

#include <QFont>
#include <QStringView>
#include <QWidget>

// Window geometry is kept in twips as the forms were drawn; 15 twips make a pixel.
constexpr int twips(int t)
{
    return t / 15;
}

inline void placer(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

inline void nommer_et_placer(QWidget *w, QStringView name, int left, int top, int width,
                             int height)
{
    w->setObjectName(name.toString());
    placer(w, left, top, width, height);
}

// The forms' captions: "MS Sans Serif" bold, 9.75 points unless said otherwise
// (the system's nearest font stands in where it is missing).
inline QFont police_formulaire(double points = 9.75)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}
