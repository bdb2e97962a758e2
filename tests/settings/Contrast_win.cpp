#include "Contrast_win.h"

#include <algorithm>
#include <cmath>
#include <map>

int TScreenImage::Count(COLORREF colour) const {
  return static_cast<int>(std::count(Pixels.begin(), Pixels.end(), colour));
}

TScreenImage CaptureClient(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  TScreenImage image;
  RECT client;
  GetClientRect(window, &client);
  image.Width = client.right;
  image.Height = client.bottom;
  const HDC windowDc = GetDC(window);
  const HDC memory = CreateCompatibleDC(windowDc);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = image.Width;
  bi.bmiHeader.biHeight = -image.Height;  // rows from the top
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP dib = CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, image.Width, image.Height, windowDc, 0, 0, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const DWORD*>(bits);
  image.Pixels.reserve(static_cast<size_t>(image.Width) * image.Height);
  // A DIB pixel is 0x00RRGGBB; a COLORREF 0x00BBGGRR.
  for (size_t i = 0; i < static_cast<size_t>(image.Width) * image.Height; ++i) {
    const DWORD p = pixels[i];
    image.Pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  }
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return image;
}

namespace {

double Channel(int value) {
  const double c = value / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(COLORREF c) {
  return 0.2126 * Channel(GetRValue(c)) + 0.7152 * Channel(GetGValue(c)) +
         0.0722 * Channel(GetBValue(c));
}

}  // namespace

double ContrastRatio(COLORREF a, COLORREF b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TTextInk TextInk(const TScreenImage& image, RECT r, double minimum) {
  TTextInk ink;
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  r.right = std::min<LONG>(r.right, image.Width);
  r.bottom = std::min<LONG>(r.bottom, image.Height);
  std::map<COLORREF, int> counts;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) ++counts[image.At(x, y)];
  if (counts.empty()) return ink;
  ink.Back = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
               return a.second < b.second;
             })->first;
  ink.Ink = ink.Back;
  for (const auto& [colour, n] : counts) {
    const double contrast = ContrastRatio(colour, ink.Back);
    if (contrast > ink.Contrast) {
      ink.Contrast = contrast;
      ink.Ink = colour;
    }
    if (contrast >= minimum) ink.Pixels += n;
  }
  return ink;
}

RECT MapToWindow(HWND child, HWND window, RECT r) {
  MapWindowPoints(child, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
