#pragma once

#include <QFont>
#include <QStringList>
#include <QStringView>
#include <QWidget>

// Window geometry is kept in twips as the forms were drawn; 15 twips make a pixel.
constexpr int twips(int t) { return t / 15; }

inline void placer(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

inline void nommer_et_placer(QWidget *w, QStringView name, int left, int top, int width, int height)
{
    w->setObjectName(name.toString());
    placer(w, left, top, width, height);
}

// Fonts whose letters are as wide as those of the Windows sans serif the forms
// were drawn with (Liberation Sans and Arimo share Arial's widths), so captions
// keep their size instead of wrapping or shrinking.
inline QStringList familles_etroites()
{
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")};
}

// The forms' captions: "MS Sans Serif" bold, 9.75 points unless said otherwise;
// where it is missing, a font of the same widths before the system's own.
inline QFont police_formulaire(double points = 9.75, bool gras = true)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies(QStringList{QStringLiteral("MS Sans Serif")} + familles_etroites());
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(gras);
    return font;
}

// The forms were drawn for Windows, whose buttons put a caption that does not
// fit on two lines when they are tall enough. The same here, at the caption's
// own size; only a caption that still does not fit gets a smaller size, rather
// than being cut.
void ajuster_boutons(QWidget *window);
