#include "dialogs/f_CustomDlg.h"

#include "host/HostServices.h"
#include "platform/Window.h"
#include "toolkit/XPTolvik.h"

// frm_CustomDlg as designed (96 dpi, text height 12).
const TLayoutItem kFrmCustomDlgLayout[6] = {
    {.Name = "",
     .Width = 491,
     .Height = 312,
     .Caption = "",
     .Color = clBtnFace,
     .Font = TFontSpec{"宋体", kGB2312Charset, clWindowText, 12},
     .BorderStyle = TFormBorderStyle::bsSingle,
     .BorderIcons = biSystemMenu,
     .Position = TPosition::poDesktopCenter,
     .KeyPreview = false},
    {.Name = "pnlTop",
     .Class = "TPanel",
     .Left = 0,
     .Top = 0,
     .Width = 491,
     .Height = 37,
     .Align = TAlign::alTop,
     .Color = 8375432,
     .TabOrder = 0,
     .BevelOuter = TBevelCut::bvNone},
    {.Name = "lbBusinessName",
     .Class = "TLabel",
     .Parent = "pnlTop",
     .Left = 15,
     .Top = 10,
     .Width = 64,
     .Height = 16,
     .Caption = "模块名称",
     .Font = TFontSpec{"黑体", kGB2312Charset, clWindow, 16},
     .Transparent = true},
    {.Name = "Bevel1",
     .Class = "TBevel",
     .Left = 14,
     .Top = 264,
     .Width = 467,
     .Height = 5,
     .BevelShape = TBevelShape::bsBottomLine},
    {.Name = "VELTA",
     .Class = "TLabel",
     .Left = 18,
     .Top = 262,
     .Width = 30,
     .Height = 11,
     .Caption = "VELTA",
     .Font = TFontSpec{"宋体", kGB2312Charset, clWindowText, 11},
     .Visible = false,
     .Enabled = false},
    {.Name = "sBtnClose",
     .Class = "TModalSpeedButton",
     .Left = 410,
     .Top = 279,
     .Width = 67,
     .Height = 22,
     .Caption = "关闭",
     .ParentColor = false,
     .TabOrder = 1,
     .TabStop = true},
};

Tfrm_CustomDlg::Tfrm_CustomDlg(TComponent* owner) : TForm(owner) {
  SetName("frm_CustomDlg");
  ApplyLayout(kFrmCustomDlgLayout);
  Bind(pnlTop, "pnlTop");
  Bind(lbBusinessName, "lbBusinessName");
  Bind(Bevel1, "Bevel1");
  Bind(VELTA, "VELTA");
  Bind(sBtnClose, "sBtnClose");
  // The product mark is an ornament: nothing for a screen reader to read or focus.
  VELTA->SetDecorative(true);
}

void Tfrm_CustomDlg::FormCreate(TObject* Sender) {
  TForm::FormCreate(Sender);
  GetSubAppContext();
  FDlgFuncCode = FFuncCode;
  SetFormSkin();
  HookXPEdits();
}

void Tfrm_CustomDlg::GetSubAppContext() {
  FAppHandle = GetAppHandle();
  FMainFrameHandle = GetMainFrameHandle();
  FAppPath = AppPath();
  FSubAppPath = CurSubAppPath();
  FSubAppCode = CurSubAppCode();
  FFuncCode = CurFuncCode();
  FSubAppInfo = GetCurSubAppInfo();
  FSubAppVo = GetCurSubAppVo();
  FUserInfoVO = GetUserInfoVO();
  FCompanyInfoVO = GetCompanyInfoVO();
}

void Tfrm_CustomDlg::SetFormSkin() {
  // Every value is asked for anew: the host may have changed its skin since.
  Font().SetCharset(giSysFontCharSet());
  Font().SetSize(giSysFontSize());
  Font().SetColor(gclSysFontColor());
  SetColor(gclModuleBackColor());
  pnlTop->SetColor(gclTopBarColor());
  SetSkinSchemeCtrls(this);
}

void Tfrm_CustomDlg::HookXPEdits() {
  const TNotifyEvent enter = TNotifyEvent::Method<&Tfrm_CustomDlg::XPEditEnter>(this);
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* edit = dynamic_cast<TXPTolvikEdit*>(Components(i));
    if (edit == nullptr) continue;
    // The dialog's own input-method name, not the edit's: the edit's stored name is
    // what the focus-entry handler replaces anyway.
    SetImeName(std::string());
    // An edit with a handler of its own keeps it (and its input method stays as it is).
    if (!edit->OnEnter.Assigned()) edit->OnEnter = enter;
  }
}

void Tfrm_CustomDlg::XPEditEnter(TObject* Sender) {
  auto* edit = dynamic_cast<TXPTolvikEdit*>(Sender);
  if (edit == nullptr) return;
  TImeMode mode = edit->ImeMode();
  if (mode == imChinese || mode == imOpen) {
    edit->SetImeMode(imOpen);
    edit->SetImeName(std::string(UserConfigParam("RunParameter", "SysIME", "-请选择-").View()));
  } else {
    edit->SetImeMode(imClose);
    edit->SetImeName("英语");
  }
}

void Tfrm_CustomDlg::WndProc(TMessage& Message) {
  if (Message.Msg == WM_SKINREFRESH) {
    SetFormSkin();
    HookXPEdits();
    Message.Result = 0;
    return;
  }
  TForm::WndProc(Message);
}

void Tfrm_CustomDlg::FormKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift) {
  TForm::FormKeyDown(Sender, Key, Shift);
  // Any shift state: Shift+F1 and Ctrl+F1 ask for help too.
  if (Key == kVkF1) SendMainFrameMsg(WM_HELPREQUEST);
}

void Tfrm_CustomDlg::FormClose(TObject* Sender, TCloseAction& Action) {
  TForm::FormClose(Sender, Action);
  Action = caFree;
}

void SendMainFrameMsg(uint32_t msg) {
  TWindowHandle window = GetMainFrameHandle();
  if (window == 0) window = FindTopLevelWindow("Tfrm_MainFrame");
  if (window != 0) SendWindowMessage(window, msg, 0, 0);
}
