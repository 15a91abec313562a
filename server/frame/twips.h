#pragma once

#include <QRect>
#include <QWidget>

// Window geometry is kept in twips as the forms were drawn; 15 twips make a pixel.
inline int twips(int t)
{
    return t / 15;
}

inline void placer(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}
