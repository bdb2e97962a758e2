#pragma once
// Tfrm_CustomDlg: the base of every module dialog. At creation it captures the host
// context, applies the host skin and hooks input-method switching onto skinned edits;
// it applies the skin again on WM_SKINREFRESH, forwards F1 to the host main frame and
// frees itself when closed.
//
//   class Tfrm_x : public Tfrm_CustomDlg { ... };   // FormCreate override calls the base first
//   Tfrm_x* dlg = NewForm<Tfrm_x>(Application);
#include <cstdint>

#include "host/HostApi.h"
#include "host/HostString.h"
#include "toolkit/Forms.h"

// Apply the host skin again and hook new skinned edits (received).
constexpr uint32_t WM_SKINREFRESH = 1303;  // WM_USER + 279
// F1 was pressed (sent to the host main frame, wParam 0, lParam 0).
constexpr uint32_t WM_HELPREQUEST = 1296;  // WM_USER + 272

// Sends msg to the host main frame (GetMainFrameHandle, else the first top-level window
// of class "Tfrm_MainFrame") and waits for it; nothing when there is none.
void SendMainFrameMsg(uint32_t msg);

class Tfrm_CustomDlg : public TForm {
 public:
  explicit Tfrm_CustomDlg(TComponent* owner);
  const char* ClassName() const override { return "Tfrm_CustomDlg"; }

  void FormCreate(TObject* Sender) override;
  void FormKeyDown(TObject* Sender, uint16_t& Key, TShiftState Shift) override;
  void FormClose(TObject* Sender, TCloseAction& Action) override;

  // Takes the dialog's colours and fonts from the host skin, asked anew on every call.
  virtual void SetFormSkin();

  // Controls, in declaration order.
  TPanel* pnlTop = nullptr;
  TLabel* lbBusinessName = nullptr;
  TBevel* Bevel1 = nullptr;
  TLabel* VELTA = nullptr;
  TModalSpeedButton* sBtnClose = nullptr;

 protected:
  ~Tfrm_CustomDlg() override = default;
  void WndProc(TMessage& Message) override;

  // The host context, filled once at creation.
  HostString FDlgFuncCode;
  THostHandle FAppHandle = 0;
  THostHandle FMainFrameHandle = 0;
  HostString FAppPath;
  HostString FSubAppPath;
  HostString FSubAppCode;
  HostString FFuncCode;
  void* FSubAppInfo = nullptr;
  void* FSubAppVo = nullptr;
  void* FUserInfoVO = nullptr;
  void* FCompanyInfoVO = nullptr;

 private:
  void GetSubAppContext();
  void HookXPEdits();
  void XPEditEnter(TObject* Sender);
};

// The stored layout of frm_CustomDlg.
extern const TLayoutItem kFrmCustomDlgLayout[6];
