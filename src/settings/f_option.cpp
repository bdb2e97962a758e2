#include "settings/f_option.h"

#include <string>

#include "host/HostApi.h"
#include "host/HostServices.h"
#include "platform/CurrentDir.h"
#include "platform/LongPaths.h"
#include "platform/Profile.h"
#include "reader/ReaderBuffer.h"
#include "reader/tools_lurm.h"
#include "settings/ReaderListText.h"
#include "util/ParamList.h"

namespace {

constexpr const char* kParamCurReader = "Global_nuvreader";
constexpr const char* kUserConfigFile = "UserConfig.ini";
constexpr const char* kListErrorLogText = "获取读卡器列表发生错误，错误编号：";
// Followed by the library's file and the reason it did not load.
constexpr const char* kLoadErrorLogText = "读卡器库未能加载：";
// Followed by the folder and the reason it could not be made current.
constexpr const char* kCurrentDirErrorLogText = "子应用目录未能设为当前目录：";

// The stored layout of frm_option: only what this form sets on top of frm_CustomDlgEx.
const TLayoutItem kFrmOptionLayout[] = {
    {.Name = "", .Width = 387, .Height = 280, .Caption = "frm_option", .ActiveControl = "ListBox"},
    {.Name = "XPTolvikGroupBox1",
     .Class = "TXPTolvikGroupBox",
     .Left = 12,
     .Top = 46,
     .Width = 361,
     .Height = 171,
     .Caption = "",
     .TabOrder = 2,
     .Ctl3D = false,
     .ParentCtl3D = false},
    {.Name = "ListBox",
     .Class = "TXPTolvikListBox",
     .Parent = "XPTolvikGroupBox1",
     .Left = 1,
     .Top = 13,
     .Width = 359,
     .Height = 124,
     .Align = TAlign::alTop,
     .TabOrder = 0,
     .ItemHeight = 12,
     .UnfocusedBorderColor = clBackground,
     .SelectedBorderColor = clOlive,
     .ImeName = "中文 (简体) - 搜狗拼音输入法"},
    {.Name = "btn_reader",
     .Class = "TModalSpeedButton",
     .Parent = "XPTolvikGroupBox1",
     .Left = 194,
     .Top = 143,
     .Width = 67,
     .Height = 22,
     .Caption = "选择",
     .ParentColor = false,
     .TabOrder = 1,
     .TabStop = true},
    {.Name = "btn_connect",
     .Class = "TModalSpeedButton",
     .Parent = "XPTolvikGroupBox1",
     .Left = 274,
     .Top = 143,
     .Width = 67,
     .Height = 22,
     .Caption = "测试连接",
     .ParentColor = false,
     .TabOrder = 2,
     .TabStop = true},
    {.Name = "pnlTop", .Width = 387, .Height = 37, .Visible = true},
    {.Name = "Bevel1", .Left = 4, .Top = 168, .Width = 373},
    {.Name = "VELTA", .Top = 232},
    {.Name = "Shape1", .Left = 78, .Top = 238, .Width = 293},
    {.Name = "sBtnClose", .Left = 282, .Top = 251},
};

}  // namespace

Tfrm_option::Tfrm_option(TComponent* owner) : Tfrm_CustomDlgEx(owner) {
  ApplyLayout(kFrmOptionLayout);
  Bind(XPTolvikGroupBox1, "XPTolvikGroupBox1");
  Bind(ListBox, "ListBox");
  Bind(btn_reader, "btn_reader");
  Bind(btn_connect, "btn_connect");
  btn_reader->OnClick = TNotifyEvent::Method<&Tfrm_option::btn_readerClick>(this);
  btn_connect->OnClick = TNotifyEvent::Method<&Tfrm_option::btn_connectClick>(this);
  sBtnClose->OnClick = TNotifyEvent::Method<&Tfrm_option::sBtnCloseClick>(this);
  // The header's prompt names the list for a screen reader.
  lbBusinessName->SetFocusControl(ListBox);
}

void Tfrm_option::FormCreate(TObject* Sender) {
  Tfrm_CustomDlgEx::FormCreate(Sender);
  FOldDir = HostString(GetCurrentDir());
  // A sub-application directory that cannot be made current is no reason not to open.
  const HostString subAppPath = CurSubAppPath();
  // A folder longer than Windows takes (no long-path opt-in) is named in the log; the
  // library in it cannot be loaded either, and the operator is told that below.
  if (!SetCurrentDir(subAppPath.View())) {
    const std::string tooLong = PathLengthProblem(subAppPath.View(), TPathKind::Folder);
    if (!tooLong.empty()) {
      const std::string logText =
          kCurrentDirErrorLogText + std::string(subAppPath.View()) + "，" + tooLong;
      Error("1", logText.c_str());
    }
  }
  const char* libraryFile = IsServerType99() ? "lurmScard.dll" : "lurmScard_old.dll";
  const std::string libraryPath = std::string(CurSubAppPath().View()) + libraryFile;
  FScardInvoker = std::make_unique<TLURMScardInvoker>(HostString(libraryPath));
  // The operator sees that the listing failed; the log says which file and why.
  if (!FScardInvoker->Loaded()) {
    const std::string logText = kLoadErrorLogText + FScardInvoker->LoadFailure();
    Error("1", logText.c_str());
    // A path too long for the system is nothing the reader's driver can mend, and the
    // operator reads so in the error report before the listing's message.
    if (!PathLengthProblem(libraryPath, TPathKind::File).empty()) FPathTooLongText = logText;
  }
}

void Tfrm_option::FormShow(TObject* Sender) {
  Tfrm_CustomDlgEx::FormShow(Sender);
  SetCaption("读卡器设置");
  lbBusinessName->SetCaption("请选择读卡器");
  LoadCurReader();
}

void Tfrm_option::FormDestroy(TObject* Sender) {
  Tfrm_CustomDlgEx::FormDestroy(Sender);
  // The library goes first: the directory it was loaded from stays current until then.
  FScardInvoker.reset();
  if (!FOldDir.Empty()) SetCurrentDir(FOldDir.View());
}

void Tfrm_option::LoadCurReader() {
  FCurReader = GetCurReader();
  LoadReaderList();
}

void Tfrm_option::LoadReaderList() {
  // One zero-filled buffer per listing with a guard area after it, released on every
  // path by its owner.
  TReaderBuffer buffer(kReaderListBufferSize);
  int32_t code = 0;
  std::string text;
  try {
    const TWaitCursor wait;  // the reader library may take its time; put back on every path
    code = FScardInvoker->SCListReaders(buffer.Data());
    // A library that wrote past the buffer has failed the call: what it left in the
    // buffer cannot be trusted.
    buffer.CheckGuard("SCListReaders");
    // All of the buffer, NULs included; never more than the dialog owns.
    text.assign(buffer.Data(), kReaderListBufferSize);
  } catch (const std::exception&) {
    if (!FPathTooLongText.empty()) Application->ReportError(this, FPathTooLongText);
    ShowHostMsg(kMsgListingFailed);
    code = 0;
    text.clear();
  }

  if (code == 0) {
    ListBox->SetText(ReaderListText(text));
  } else {
    const std::string logText = kListErrorLogText + std::to_string(static_cast<uint32_t>(code));
    Error("1", logText.c_str());
    ShowReaderError(code, *FScardInvoker);
  }

  if (!FCurReader.Empty()) ListBox->SetItemIndex(ListBox->IndexOf(std::string(FCurReader.View())));
}

int Tfrm_option::SelectedOrSingleLine() {
  if (ListBox->ItemIndex() == -1 && ListBox->Count() == 1) ListBox->SetItemIndex(0);
  return ListBox->ItemIndex();
}

void Tfrm_option::btn_readerClick(TObject*) {
  const int index = SelectedOrSingleLine();
  if (index == -1) {
    ShowHostMsg(kMsgSelectNoReader);
    return;
  }
  // Selecting stores the name only; the reader itself is not contacted.
  const HostString name(ListBox->Line(index));
  SetParamStr(GetCurSubAppVo(), kParamCurReader, name);
  WriteUserConfig(HostString("NuvReader"), HostString("nuvreader"), name);
  FCurReader = name;
  ShowHostMsg(kMsgReaderStored, name.View());
}

void Tfrm_option::btn_connectClick(TObject*) {
  const int index = SelectedOrSingleLine();
  if (index == -1) {
    ShowHostMsg(kMsgTestNoReader);
    return;
  }
  // The selected line is tested, not the stored current reader.
  const std::string name = ListBox->Line(index);
  // The area lies on the heap with a guard area after it, never on the handler's stack.
  TReaderBuffer area(kConnectAreaSize);
  const int32_t code = [&] {
    const TWaitCursor wait;  // the reader library may take its time; put back on every path
    return FScardInvoker->SCConnectReader(name.c_str(), area.Data());
  }();
  // Once the connect call has returned, the disconnect follows the outcome message in
  // every case, also when showing the outcome fails.
  try {
    // A library that wrote past the area has failed the call; the general error report
    // says so.
    area.CheckGuard("SCConnectReader");
    if (code == 0) {
      ShowHostMsg(kMsgReaderConnected);
    } else {
      ShowReaderError(code, *FScardInvoker);
    }
  } catch (...) {
    try {
      FScardInvoker->SCDisConnectReader();
    } catch (const std::exception&) {
      // The outcome's own failure is the one the operator is told about.
    }
    throw;
  }
  FScardInvoker->SCDisConnectReader();
}

void Tfrm_option::sBtnCloseClick(TObject*) { Close(); }

void Tfrm_option::WriteUserConfig(const HostString& Section, const HostString& Ident,
                                  const HostString& Value) {
  const std::string file = std::string(CurSubAppPath().View()) + kUserConfigFile;
  IniWriteString(file, Section.View(), Ident.View(), Value.View());
}
