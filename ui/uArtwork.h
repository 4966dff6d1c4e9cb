// The window's pictures: the status lights, the banner and logo, and the program's icon.
#pragma once

#include <QIcon>
#include <QPixmap>

// The light image list: 16 x 16 with alpha; 0 grey, 1 red, 2 green.
inline constexpr int kLedSize = 16;
enum TLedIndex { liGrey = 0, liRed = 1, liGreen = 2 };
const QPixmap& LedImage(int index);

// The banner's picture, stretched over the window's width.
QPixmap BannerPicture();
// The 111 x 26 logo at the banner's right end.
QPixmap LogoPicture();
// The product logo at a square size (the about box takes 96).
QPixmap ProductLogo(int size);
QIcon ApplicationIcon();
