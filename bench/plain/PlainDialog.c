// The yardstick of the dialog benchmark: the reader settings dialog as a plain Win32 dialog.
// A #32770 dialog from a template, standard LISTBOX and BUTTON controls, its own modal loop
// through IsDialogMessage, the host services of ModuleLib and logQuery and the reader library
// called as the module calls them, and nothing else: no C or C++ runtime (built with
// -nostdlib; the entry point is DllMain itself), one font and the brushes of the skin.
//
//   ShowFrmOption(appHandle, 0, 0);   // returns when the operator closes the dialog
#include <windows.h>

#define IDC_TITLE 100
#define IDC_LIST 101
#define IDC_SELECT 102
#define IDC_CONNECT 103

// The host's boundary, as the module sees it (host strings: count and length before the
// characters; one allocator, the process heap, shared with the host).
typedef char* HostStr;
typedef struct {
  unsigned char Length;
  char Chars[255];
} TShortText;
__declspec(dllimport) UINT_PTR GetAppHandle(void);
__declspec(dllimport) UINT_PTR GetMainFrameHandle(void);
__declspec(dllimport) void GetAppPath(HostStr* result);
__declspec(dllimport) void GetCurSubAppPath(HostStr* result);
__declspec(dllimport) void GetCurSubAppCode(HostStr* result);
__declspec(dllimport) void GetCurFuncCode(HostStr* result);
__declspec(dllimport) void* GetCurSubAppVo(void);
__declspec(dllimport) DWORD gclModuleBackColor(void);
__declspec(dllimport) DWORD gclTopBarColor(void);
__declspec(dllimport) DWORD gclSysFontColor(void);
__declspec(dllimport) int giSysFontSize(void);
__declspec(dllimport) BYTE giSysFontCharSet(void);
__declspec(dllimport) void SetSkinSchemeCtrls(void* dialog);
__declspec(dllimport) void InforMsg(int msgId, const TShortText* param, unsigned char flag);
__declspec(dllimport) void InfoMsgBox(HostStr text, int kind);
__declspec(dllimport) void __stdcall Error(const char* category, const char* text);

typedef struct {
  const void* ClassRef;
  void** FList;
  int FCount;
  int FCapacity;
} TList;
typedef struct {
  HostStr StrValue;
  DWORD Unused1;
  BYTE VarValue[16];
  void* ObjValue;
  DWORD Unused2;
} TParamValue;
typedef struct {
  BYTE Name[256];
  BYTE Kind;
  BYTE Gap[3];
  TParamValue* Value;
} TParamEntry;

typedef int(__stdcall* SCListReadersFn)(char* buffer);
typedef int(__stdcall* SCConnectReaderFn)(const char* readerName, char* out);
typedef int(__stdcall* SCDisConnectReaderFn)(void);
typedef const char*(__stdcall* SCGetErrorTextFn)(int code);

// What the compiler may call for block moves; there is no C library to give them.
void* memset(void* d, int c, size_t n) {
  volatile char* p = (volatile char*)d;
  while (n--) *p++ = (char)c;
  return d;
}
void* memcpy(void* d, const void* s, size_t n) {
  volatile char* p = (volatile char*)d;
  const char* q = (const char*)s;
  while (n--) *p++ = *q++;
  return d;
}

static HINSTANCE gInstance;

static void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n); }
static void Free(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}
static int Length(const char* s) {
  int n = 0;
  while (s[n]) ++n;
  return n;
}
static HostStr StrNew(const char* s, int n) {
  if (n == 0) return 0;
  int* h = (int*)Alloc(8 + n + 1);
  h[0] = 1;
  h[1] = n;
  memcpy(h + 2, s, n);
  return (HostStr)(h + 2);
}
static void StrRelease(HostStr s) {
  if (!s) return;
  int* h = (int*)s - 2;
  if (h[0] != -1 && --h[0] == 0) Free(h);
}
static int StrLen(HostStr s) { return s ? ((int*)s)[-1] : 0; }
// dst = a + b, NUL-terminated, at most size bytes.
static void Join(char* dst, int size, const char* a, int an, const char* b) {
  int i = 0;
  for (int k = 0; k < an && i < size - 1; ++k) dst[i++] = a[k];
  for (; *b && i < size - 1; ++b) dst[i++] = *b;
  dst[i] = 0;
}
static unsigned char Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }
static TParamEntry* FindParam(const char* name) {
  TList* list = ((TList**)GetCurSubAppVo())[1];
  int n = Length(name);
  for (int i = 0; i < list->FCount; ++i) {
    TParamEntry* e = (TParamEntry*)list->FList[i];
    if (e->Name[0] != n) continue;
    int k = 0;
    while (k < n && Fold(e->Name[1 + k]) == Fold((unsigned char)name[k])) ++k;
    if (k == n) return e;
  }
  return 0;
}
static void ShowMsg(int id, const char* param) {
  TShortText t;
  int n = param ? Length(param) : 0;
  if (n > 255) n = 255;
  t.Length = (unsigned char)n;
  memcpy(t.Chars, param ? param : "", n);
  InforMsg(id, &t, 1);
}

// One open dialog's state.
typedef struct {
  HostStr SubAppPath;
  HMODULE Library;
  SCListReadersFn ListReaders;
  SCConnectReaderFn ConnectReader;
  SCDisConnectReaderFn DisConnectReader;
  SCGetErrorTextFn GetErrorText;
  HFONT Font;
  HBRUSH Back, TopBar;
  DWORD FontColor;
  HWND List;
  int Done;
} TDialog;

static const struct {
  int First, Last, MsgId;
} kErrors[] = {
    {0x9000, 0x9000, 70000901},
    {0x6100, 0x61FF, 70000902},
    {0x63C0, 0x63CF, 70000910},
    {0x6983, 0x6983, 70000923},
    {(int)0x80100009, (int)0x80100009, 70000923},
    {(int)0x8010000B, (int)0x8010000B, 70000966},
    {(int)0x8010000C, (int)0x8010000C, 70000967},
    {(int)0x8010000D, (int)0x8010000D, 70000968},
    {(int)0x8010001D, (int)0x8010001D, 70000984},
    {(int)0x8010001E, (int)0x8010001E, 70000985},
    {(int)0x8010002E, (int)0x8010002E, 70000986},
    {(int)0x80100065, (int)0x80100065, 70000987},
    {(int)0x80100066, (int)0x80100066, 70000988},
    {(int)0x80100067, (int)0x80100067, 70000989},
    {(int)0x80100068, (int)0x80100068, 70000990},
    {(int)0x80100069, (int)0x80100069, 70000991},
    {0x7B, 0x7B, 70000992},
};
static void ReaderError(TDialog* d, int code) {
  for (unsigned i = 0; i < sizeof kErrors / sizeof kErrors[0]; ++i)
    if (code >= kErrors[i].First && code <= kErrors[i].Last) {
      ShowMsg(kErrors[i].MsgId, 0);
      return;
    }
  const char* text = d->GetErrorText ? d->GetErrorText(code) : 0;
  HostStr s = StrNew(text ? text : "?", text ? Length(text) : 1);
  InfoMsgBox(s, 0);
  StrRelease(s);
}

static void LoadList(TDialog* d) {
  enum { kSize = 1024 };
  char* buffer = (char*)Alloc(kSize + 16);
  int code = d->ListReaders ? d->ListReaders(buffer) : 0;
  if (code == 0) {
    for (int i = 0; i < kSize && buffer[i];) {
      SendMessageA(d->List, LB_ADDSTRING, 0, (LPARAM)(buffer + i));
      while (i < kSize && buffer[i]) ++i;
      ++i;
    }
  } else {
    Error("1", "获取读卡器列表发生错误");
    ReaderError(d, code);
  }
  Free(buffer);
  TParamEntry* current = FindParam("Global_nuvreader");
  if (current && current->Value && current->Value->StrValue) {
    LRESULT i =
        SendMessageA(d->List, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)current->Value->StrValue);
    if (i != LB_ERR) SendMessageA(d->List, LB_SETCURSEL, i, 0);
  }
}

// The selected line (or the only one) into name; 0 when none.
static int Selected(TDialog* d, char* name, int size) {
  LRESULT i = SendMessageA(d->List, LB_GETCURSEL, 0, 0);
  if (i == LB_ERR && SendMessageA(d->List, LB_GETCOUNT, 0, 0) == 1)
    SendMessageA(d->List, LB_SETCURSEL, i = 0, 0);
  if (i == LB_ERR || SendMessageA(d->List, LB_GETTEXTLEN, i, 0) >= size) return 0;
  SendMessageA(d->List, LB_GETTEXT, i, (LPARAM)name);
  return 1;
}

static void StoreReader(TDialog* d) {
  char name[256];
  if (!Selected(d, name, sizeof name)) {
    ShowMsg(70000528, 0);
    return;
  }
  HostStr value = StrNew(name, Length(name));
  TParamEntry* e = FindParam("Global_nuvreader");
  if (e == 0) {
    TList* list = ((TList**)GetCurSubAppVo())[1];
    if (list->FCount == list->FCapacity) {
      void** items = (void**)Alloc(sizeof(void*) * (list->FCapacity + 16));
      memcpy(items, list->FList, sizeof(void*) * list->FCount);
      Free(list->FList);
      list->FList = items;
      list->FCapacity += 16;
    }
    e = (TParamEntry*)Alloc(sizeof(TParamEntry));
    e->Name[0] = 16;
    memcpy(e->Name + 1, "Global_nuvreader", 16);
    list->FList[list->FCount++] = e;
  }
  if (e->Value) {
    StrRelease(e->Value->StrValue);
    Free(e->Value);
  }
  e->Kind = 0;
  e->Value = (TParamValue*)Alloc(sizeof(TParamValue));
  e->Value->StrValue = value;
  char file[MAX_PATH];
  Join(file, sizeof file, d->SubAppPath, StrLen(d->SubAppPath), "UserConfig.ini");
  WritePrivateProfileStringA("NuvReader", "nuvreader", name, file);
  ShowMsg(70000527, name);
}

static void TestConnection(TDialog* d) {
  char name[256];
  if (!Selected(d, name, sizeof name)) {
    ShowMsg(70000529, 0);
    return;
  }
  char* area = (char*)Alloc(256 + 16);
  HCURSOR old = SetCursor(LoadCursorW(0, (LPCWSTR)IDC_WAIT));
  int code = d->ConnectReader ? d->ConnectReader(name, area) : 0;
  SetCursor(old);
  if (code == 0)
    ShowMsg(70000530, 0);
  else
    ReaderError(d, code);
  if (d->DisConnectReader) d->DisConnectReader();
  Free(area);
}

static BOOL CALLBACK SetFont(HWND w, LPARAM font) {
  SendMessageW(w, WM_SETFONT, (WPARAM)font, FALSE);
  return TRUE;
}

static INT_PTR CALLBACK DialogProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  TDialog* d = (TDialog*)GetWindowLongPtrW(w, DWLP_USER);
  switch (msg) {
    case WM_INITDIALOG:
      d = (TDialog*)lp;
      SetWindowLongPtrW(w, DWLP_USER, lp);
      d->List = GetDlgItem(w, IDC_LIST);
      EnumChildWindows(w, SetFont, (LPARAM)d->Font);
      SetSkinSchemeCtrls(w);
      LoadList(d);
      SetFocus(d->List);
      return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      SetTextColor((HDC)wp, d->FontColor);
      SetBkMode((HDC)wp, TRANSPARENT);
      return (INT_PTR)(GetDlgCtrlID((HWND)lp) == IDC_TITLE ? d->TopBar : d->Back);
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_SELECT:
          StoreReader(d);
          return TRUE;
        case IDC_CONNECT:
          TestConnection(d);
          return TRUE;
        case IDCANCEL:
          // Ends the loop, which may be waiting for a posted message.
          d->Done = 1;
          PostMessageW(w, WM_NULL, 0, 0);
          return TRUE;
      }
      break;
    case WM_HELP:
      PostMessageW((HWND)GetMainFrameHandle(), 0x510, 0, 0);
      return TRUE;
  }
  return FALSE;
}

__declspec(dllexport) void __stdcall ShowFrmOption(UINT_PTR appHandle, DWORD a, DWORD b) {
  (void)a;
  (void)b;
  TDialog d;
  memset(&d, 0, sizeof d);
  HostStr appPath = 0, subAppCode = 0, funcCode = 0;
  GetAppHandle();
  GetMainFrameHandle();
  GetAppPath(&appPath);
  GetCurSubAppPath(&d.SubAppPath);
  GetCurSubAppCode(&subAppCode);
  GetCurFuncCode(&funcCode);

  char oldDir[MAX_PATH], file[MAX_PATH], type[8];
  GetCurrentDirectoryA(sizeof oldDir, oldDir);
  Join(file, sizeof file, d.SubAppPath, StrLen(d.SubAppPath), "");
  SetCurrentDirectoryA(file);
  Join(file, sizeof file, d.SubAppPath, StrLen(d.SubAppPath), "SysConfig.ini");
  GetPrivateProfileStringA("system", "ServerType", "", type, sizeof type, file);
  const int is99 = type[0] == '9' && type[1] == '9' && type[2] == 0;
  Join(file, sizeof file, d.SubAppPath, StrLen(d.SubAppPath),
       is99 ? "lurmScard.dll" : "lurmScard_old.dll");
  d.Library = LoadLibraryA(file);
  if (d.Library) {
    d.ListReaders = (SCListReadersFn)(void*)GetProcAddress(d.Library, "SCListReaders");
    d.ConnectReader = (SCConnectReaderFn)(void*)GetProcAddress(d.Library, "SCConnectReader");
    d.DisConnectReader =
        (SCDisConnectReaderFn)(void*)GetProcAddress(d.Library, "SCDisConnectReader");
    GetProcAddress(d.Library, "SCSendCmd");
    d.GetErrorText = (SCGetErrorTextFn)(void*)GetProcAddress(d.Library, "SCGetErrorText");
  }

  // The skin: the host's font and colours.
  HDC screen = GetDC(0);
  d.Font = CreateFontW(-MulDiv(giSysFontSize(), GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0,
                       FW_NORMAL, 0, 0, 0, giSysFontCharSet(), 0, 0, 0, 0, L"宋体");
  ReleaseDC(0, screen);
  d.FontColor = gclSysFontColor();
  d.Back = CreateSolidBrush(gclModuleBackColor());
  d.TopBar = CreateSolidBrush(gclTopBarColor());

  HWND owner = (HWND)appHandle;
  HWND dialog = CreateDialogParamW(gInstance, MAKEINTRESOURCEW(1), owner, DialogProc, (LPARAM)&d);
  if (dialog) {
    EnableWindow(owner, FALSE);
    ShowWindow(dialog, SW_SHOW);
    MSG m;
    while (!d.Done && GetMessageW(&m, 0, 0, 0) > 0) {
      if (m.message == WM_KEYDOWN && m.wParam == VK_F1) {
        PostMessageW((HWND)GetMainFrameHandle(), 0x510, 0, 0);
        continue;
      }
      if (!IsDialogMessageW(dialog, &m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
    // The owner first, so that the system gives it the activation back.
    EnableWindow(owner, TRUE);
    DestroyWindow(dialog);
  }
  DeleteObject(d.Font);
  DeleteObject(d.Back);
  DeleteObject(d.TopBar);
  if (d.Library) FreeLibrary(d.Library);
  SetCurrentDirectoryA(oldDir);
  StrRelease(appPath);
  StrRelease(subAppCode);
  StrRelease(funcCode);
  StrRelease(d.SubAppPath);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) gInstance = instance;
  return TRUE;
}
