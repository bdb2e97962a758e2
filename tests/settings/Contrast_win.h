#pragma once
// How readable a text on the screen is: what a window shows, captured as the operator sees
// it, and the contrast of a text's ink against what lies behind it (the WCAG 2 ratio, 1 to
// 21: 7 or more is enhanced contrast, 4.5 the minimum for text of this size).
//
//   TScreenImage shot = CaptureClient(dialog);
//   TTextInk ink = TextInk(shot, buttonPlace, 7.0);   // ink.Pixels at 7:1 or more
#include <windows.h>

#include <vector>

// The pixels of a window's client area, rows from the top.
struct TScreenImage {
  int Width = 0, Height = 0;
  std::vector<COLORREF> Pixels;
  COLORREF At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
  // Pixels of exactly that colour.
  int Count(COLORREF colour) const;
};

// What the screen shows of the window's client area, its children included, once every
// window of the thread has painted what it had to.
TScreenImage CaptureClient(HWND window);

double ContrastRatio(COLORREF a, COLORREF b);

// The text in a rectangle of the image: Back is what lies behind it (the rectangle's
// commonest colour), Ink the pixel that stands out most against it, Contrast their ratio,
// Pixels how many pixels reach minimum against Back.
struct TTextInk {
  COLORREF Back = 0, Ink = 0;
  double Contrast = 1;
  int Pixels = 0;
};
TTextInk TextInk(const TScreenImage& image, RECT r, double minimum);

// r, in child's client coordinates, in the client coordinates of window.
RECT MapToWindow(HWND child, HWND window, RECT r);
