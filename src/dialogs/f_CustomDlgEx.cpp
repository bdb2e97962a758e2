#include "dialogs/f_CustomDlgEx.h"

#include "host/HostApi.h"

const char* const kProductMark = "VELTA";

// What frm_CustomDlgEx changes and adds: footer mark and dotted line, no top bar.
const TLayoutItem kFrmCustomDlgExLayout[5] = {
    {.Name = "", .Caption = "frm_CustomDlgEx"},
    {.Name = "Bevel1", .Top = 283, .Width = 50, .Height = 2, .Visible = false},
    {.Name = "VELTA",
     .Left = 11,
     .Top = 261,
     .Width = 59,
     .Height = 13,
     .Caption = kProductMark,
     .Font = TFontSpec{"Arial", kAnsiCharset, 12164479, 10},
     .Visible = true,
     .Enabled = true,
     .Transparent = true},
    {.Name = "Shape1",
     .Class = "TShape",
     .Left = 72,
     .Top = 267,
     .Width = 403,
     .Height = 1,
     .PenColor = 12164479,
     .PenStyle = TPenStyle::psDot},
    {.Name = "pnlTop", .Height = 0, .Visible = false, .Enabled = false},
};

Tfrm_CustomDlgEx::Tfrm_CustomDlgEx(TComponent* owner) : Tfrm_CustomDlg(owner) {
  SetName("frm_CustomDlgEx");
  ApplyLayout(kFrmCustomDlgExLayout);
  Bind(Shape1, "Shape1");
}

void Tfrm_CustomDlgEx::SetFormSkin() {
  Tfrm_CustomDlg::SetFormSkin();
  // Only the dotted pen of the footer line shows on the background.
  Shape1->SetBrushColor(gclModuleBackColor());
}
