#pragma once
// Tfrm_CustomDlgEx: the base dialog with a footer (product mark and dotted line) and no
// top bar; its skin also fills the dotted line's shape with the background colour.
//
//   class Tfrm_option : public Tfrm_CustomDlgEx { ... };
#include "dialogs/f_CustomDlg.h"

// The product mark shown in the footer.
extern const char* const kProductMark;

class Tfrm_CustomDlgEx : public Tfrm_CustomDlg {
 public:
  explicit Tfrm_CustomDlgEx(TComponent* owner);
  const char* ClassName() const override { return "Tfrm_CustomDlgEx"; }

  void SetFormSkin() override;

  TShape* Shape1 = nullptr;

 protected:
  ~Tfrm_CustomDlgEx() override = default;
};

// What frm_CustomDlgEx changes and adds to frm_CustomDlg.
extern const TLayoutItem kFrmCustomDlgExLayout[5];
