#pragma once
// Tfrm_option: the reader settings dialog "读卡器设置", the module's one screen.
//
//   Tfrm_option* dlg = NewForm<Tfrm_option>(Application);  // binds the reader library
//   dlg->ShowModal();                                       // lists readers at show
//   dlg->Free();                                            // unbinds, restores the directory
//
// While it exists the process's current directory is the sub-application directory.
// The operator sees the readers the reader access library lists, stores one ("选择":
// parameter "Global_nuvreader" and "UserConfig.ini" [NuvReader] nuvreader) and tests a
// connection to the selected one ("测试连接"). Every outcome is a host catalogue message;
// every non-zero reader result code goes to ShowReaderError.
#include <cstdint>
#include <memory>
#include <string>

#include "dialogs/f_CustomDlgEx.h"
#include "host/HostString.h"
#include "reader/scard_api.h"

// Host messages of the dialog.
constexpr int32_t kMsgReaderStored = 70000527;     // parameter text: the reader name
constexpr int32_t kMsgSelectNoReader = 70000528;   // "选择" with no line selected
constexpr int32_t kMsgTestNoReader = 70000529;     // "测试连接" with no line selected
constexpr int32_t kMsgReaderConnected = 70000530;  // the connection test succeeded
constexpr int32_t kMsgListingFailed = 70000995;    // listing the readers raised an error

// Sizes of the buffers handed to the reader library; it is told no length. Each lies in
// a heap block of its own with a guard area after it (reader/ReaderBuffer.h): a library
// that writes past the size fails that call (listing: 70000995; connection test: the
// general error report, after the disconnect).
constexpr int kReaderListBufferSize = 1024;
constexpr int kConnectAreaSize = 256;

class Tfrm_option : public Tfrm_CustomDlgEx {
 public:
  explicit Tfrm_option(TComponent* owner);
  const char* ClassName() const override { return "Tfrm_option"; }

  // Controls of the dialog; the form owns them.
  TXPTolvikGroupBox* XPTolvikGroupBox1 = nullptr;
  TXPTolvikListBox* ListBox = nullptr;
  TModalSpeedButton* btn_reader = nullptr;
  TModalSpeedButton* btn_connect = nullptr;

  void FormCreate(TObject* Sender) override;
  void FormShow(TObject* Sender) override;
  void FormDestroy(TObject* Sender) override;
  void btn_readerClick(TObject* Sender);
  void btn_connectClick(TObject* Sender);
  void sBtnCloseClick(TObject* Sender);

  // The current reader; empty when none.
  const HostString& CurReader() const { return FCurReader; }
  TLURMScardInvoker* ScardInvoker() const { return FScardInvoker.get(); }

 protected:
  ~Tfrm_option() override = default;

 private:
  void LoadCurReader();
  void LoadReaderList();
  void WriteUserConfig(const HostString& Section, const HostString& Ident, const HostString& Value);
  // The single-line rule: with no line selected and exactly one line, that line is
  // selected (visibly). Returns the selected index, -1 when still none.
  int SelectedOrSingleLine();

  HostString FOldDir;
  // What the operator is told when the library's path is longer than the system takes
  // (the log line); empty otherwise.
  std::string FPathTooLongText;
  std::unique_ptr<TLURMScardInvoker> FScardInvoker;
  HostString FCurReader;
};
