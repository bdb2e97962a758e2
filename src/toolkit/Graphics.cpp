#include "toolkit/Graphics.h"

TColor ClassicColorToRGB(TColor color) {
  if (!IsSystemColor(color)) return color;
  switch (color) {
    case clBackground:
      return 0x808000;
    case clActiveCaption:
      return 0x6A240A;
    case clInactiveCaption:
      return 0x808080;
    case clMenu:
    case clBtnFace:
    case clInactiveCaptionText:
      return 0xC8D0D4;
    case clWindow:
    case clCaptionText:
    case clHighlightText:
    case clBtnHighlight:
      return 0xFFFFFF;
    case clMenuText:
    case clWindowText:
    case clBtnText:
    case clInfoText:
      return 0x000000;
    case clHighlight:
      return 0x6A240A;
    case clBtnShadow:
    case clGrayText:
      return 0x808080;
    case clInfoBk:
      return 0xE1FFFF;
    default:
      return 0xC0C0C0;
  }
}

TColor SystemTextColorFor(TColor background) {
  switch (background) {
    case clBtnFace:
      return clBtnText;
    case clHighlight:
      return clHighlightText;
    case clMenu:
      return clMenuText;
    case clInfoBk:
      return clInfoText;
    case clActiveCaption:
      return clCaptionText;
    case clInactiveCaption:
      return clInactiveCaptionText;
    default:
      return clWindowText;
  }
}
