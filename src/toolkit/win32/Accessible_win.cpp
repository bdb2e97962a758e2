// The accessible objects of the module's windows (Accessible_win.h): one object per
// window, made at the first request and kept until the window is destroyed, so that a
// screen reader asking twice gets the same object. An object holds only its window's
// handle and finds the control through it on every call: once the window is gone, it
// answers that it is disconnected.
#include "toolkit/win32/Accessible_win.h"

#include <oleacc.h>

#include <map>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "toolkit/win32/Peer_win.h"
#include "toolkit/win32/Win32Util.h"

namespace {

// The system's accessibility and COM functions the objects use. Their libraries (oleacc,
// ole32, oleaut32) are mapped only when a screen reader first asks for an object: imported,
// they would be loaded with the module by every host, where they cost most of the
// module's load time, whether or not a screen reader ever runs. Once loaded they stay for
// the life of the process, as system libraries of COM must (an apartment's threads may
// still run their code after the last uninitialise).
struct TOleApi {
  HRESULT(WINAPI* CoInitializeEx)(LPVOID, DWORD) = nullptr;
  void(WINAPI* CoUninitialize)() = nullptr;
  HRESULT(WINAPI* CoDisconnectObject)(LPUNKNOWN, DWORD) = nullptr;
  LRESULT(WINAPI* LresultFromObject)(REFIID, WPARAM, LPUNKNOWN) = nullptr;
  HRESULT(WINAPI* AccessibleObjectFromWindow)(HWND, DWORD, REFIID, void**) = nullptr;
  BSTR(WINAPI* SysAllocString)(const OLECHAR*) = nullptr;
  BSTR(WINAPI* SysAllocStringLen)(const OLECHAR*, UINT) = nullptr;
};

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& out) {
  if (module == nullptr) return false;
  out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

// The functions, loaded at the first call; null when a library or function is missing
// (then no object of ours is made and the system's standard objects answer).
const TOleApi* Ole() {
  static TOleApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 failed
  if (state == 0) {
    // From the system folder only: oleacc is not one of the system's known libraries, so
    // by its bare name a copy in the host's folder would be taken first.
    const auto ole32 = reinterpret_cast<HMODULE>(LoadSystemLibrary("ole32.dll"));
    const auto oleaut32 = reinterpret_cast<HMODULE>(LoadSystemLibrary("oleaut32.dll"));
    const auto oleacc = reinterpret_cast<HMODULE>(LoadSystemLibrary("oleacc.dll"));
    const bool ok = Resolve(ole32, "CoInitializeEx", api.CoInitializeEx) &&
                    Resolve(ole32, "CoUninitialize", api.CoUninitialize) &&
                    Resolve(ole32, "CoDisconnectObject", api.CoDisconnectObject) &&
                    Resolve(oleacc, "LresultFromObject", api.LresultFromObject) &&
                    Resolve(oleacc, "AccessibleObjectFromWindow", api.AccessibleObjectFromWindow) &&
                    Resolve(oleaut32, "SysAllocString", api.SysAllocString) &&
                    Resolve(oleaut32, "SysAllocStringLen", api.SysAllocStringLen);
    state = ok ? 1 : -1;
  }
  return state == 1 ? &api : nullptr;
}

// VARIANT's empty value, as oleaut32's VariantInit sets it.
void InitVariant(VARIANT* v) { v->vt = VT_EMPTY; }

// What the object of a window says it is.
enum class TAccessibleKind { Dialog, PushButton, List, Decoration };

TControl* ControlOf(HWND hwnd) {
  TWindowPeer* peer = TWindowPeer::FromHandle(hwnd);
  return peer != nullptr ? &peer->Control() : nullptr;
}

// False for controls whose windows are of the system's classes (edits), which get the
// system's standard objects.
bool KindOf(const TControl& c, TAccessibleKind& kind) {
  if (dynamic_cast<const TCustomForm*>(&c) != nullptr) {
    kind = TAccessibleKind::Dialog;
  } else if (dynamic_cast<const TModalSpeedButton*>(&c) != nullptr) {
    kind = TAccessibleKind::PushButton;
  } else if (dynamic_cast<const TXPTolvikListBox*>(&c) != nullptr) {
    kind = TAccessibleKind::List;
  } else if (dynamic_cast<const TPanel*>(&c) != nullptr ||
             dynamic_cast<const TXPTolvikGroupBox*>(&c) != nullptr) {
    kind = TAccessibleKind::Decoration;
  } else {
    return false;
  }
  return true;
}

bool IsDecoration(HWND hwnd) {
  TControl* c = ControlOf(hwnd);
  TAccessibleKind kind{};
  return c != nullptr && KindOf(*c, kind) && kind == TAccessibleKind::Decoration;
}

// One of what a screen reader reads as the children of an object: a window, with an
// object of its own, or a label drawn on a window, a simple element of the object (it
// has no window to hand out an object of its own).
struct TReadChild {
  HWND Window = nullptr;
  const TLabel* Label = nullptr;
};

// A simple element of an object, as a child id names it: a line of a list (1-based), or a
// label among the object's children; neither for the object itself.
struct TPart {
  long Line = 0;
  const TLabel* Label = nullptr;
};

// A label there is to read: shown, drawn, and not an ornament.
const TLabel* ReadLabel(const TControl& c) {
  const auto* label = dynamic_cast<const TLabel*>(&c);
  if (label == nullptr || TGraphicPeer::Of(*label) == nullptr || !label->Visible() ||
      label->Decorative())
    return nullptr;
  return label;
}

// What a screen reader reads as the children of parent's object: the labels drawn on
// parent first (they lie beneath its windows), in their order among its controls; then
// the visible child windows in tab order (they are stacked in it), a decoration replaced
// by its own children.
void CollectReadChildren(HWND parent, std::vector<TReadChild>& out) {
  if (const auto* holder = dynamic_cast<const TWinControl*>(ControlOf(parent))) {
    for (int i = 0; i < holder->ControlCount(); ++i) {
      if (const TLabel* label = ReadLabel(*holder->Controls(i))) out.push_back({nullptr, label});
    }
  }
  for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (!IsWindowVisible(w)) continue;
    if (IsDecoration(w)) {
      CollectReadChildren(w, out);
    } else {
      out.push_back({w, nullptr});
    }
  }
}

// Where a label is drawn, on the screen.
RECT ScreenPlace(const TLabel& label) {
  const TGraphicPeer* peer = TGraphicPeer::Of(label);
  RECT r = peer->Place();
  MapWindowPoints(peer->DrawingWindow(), nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The window whose object a screen reader reads as the parent: the nearest ancestor that
// is not a decoration; null for a form.
HWND ReadParent(HWND hwnd) {
  if ((GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) == 0) return nullptr;
  HWND p = GetParent(hwnd);
  while (p != nullptr && IsDecoration(p) && (GetWindowLongPtrW(p, GWL_STYLE) & WS_CHILD) != 0)
    p = GetParent(p);
  return p;
}

// A window that takes no input: disabled itself, or inside a disabled window (its dialog
// under a message box).
bool TakesNoInput(HWND hwnd) {
  for (HWND w = hwnd; w != nullptr; w = GetParent(w)) {
    if (!IsWindowEnabled(w)) return true;
    if ((GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) == 0) break;
  }
  return false;
}

BSTR MakeBstr(const std::wstring& text) {
  return Ole()->SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The name of a control: the caption of the label that names it, else its own caption.
std::wstring NameOf(const TControl& c) {
  if (const TComponent* owner = c.Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      const auto* label = dynamic_cast<const TLabel*>(owner->Components(i));
      if (label != nullptr && label->FocusControl() == &c) return ToWide(label->Caption());
    }
  }
  return ToWide(c.Caption());
}

class TAccessible;

// The objects handed out, by window; all on the windows' thread.
std::map<HWND, TAccessible*>& Objects() {
  static std::map<HWND, TAccessible*> objects;
  return objects;
}
// Whether this module initialised COM on the windows' thread and owes it the uninitialise.
bool gJoinedCom = false;

TAccessible* ObjectFor(HWND hwnd);

class TAccessible final : public IAccessible {
 public:
  TAccessible(HWND hwnd, TAccessibleKind kind) : FHwnd(hwnd), FKind(kind) {}
  TAccessible(const TAccessible&) = delete;
  TAccessible& operator=(const TAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, __uuidof(IAccessible))) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&FRefs));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&FRefs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: screen readers call IAccessible directly; no type information is offered.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (parent == nullptr) return E_POINTER;
    *parent = nullptr;
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    HWND p = ReadParent(FHwnd);
    if (p == nullptr) {
      // A form's parent is the system's object of its window frame.
      return Ole()->AccessibleObjectFromWindow(FHwnd, static_cast<DWORD>(OBJID_WINDOW),
                                               IID_IDispatch,
                                               reinterpret_cast<void**>(parent)) == S_OK
                 ? S_OK
                 : S_FALSE;
    }
    return DispatchOf(p, parent);
  }

  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    if (FKind == TAccessibleKind::List) {
      *count = static_cast<long>(List()->Count());
    } else if (FKind == TAccessibleKind::Dialog || FKind == TAccessibleKind::Decoration) {
      *count = static_cast<long>(ReadChildren().size());
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (FKind == TAccessibleKind::List) {
      // The lines are simple elements of the list's object.
      return child.lVal >= 1 && child.lVal <= List()->Count() ? S_FALSE : E_INVALIDARG;
    }
    const std::vector<TReadChild> children = ReadChildren();
    if (child.lVal < 1 || static_cast<size_t>(child.lVal) > children.size()) return E_INVALIDARG;
    const TReadChild& c = children[static_cast<size_t>(child.lVal - 1)];
    // A label is a simple element: the parent answers for it.
    if (c.Window == nullptr) return S_FALSE;
    return DispatchOf(c.Window, out);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    if (part.Line > 0) {
      *name = MakeBstr(ToWide(List()->Lines()[static_cast<size_t>(part.Line - 1)]));
      return S_OK;
    }
    if (FKind == TAccessibleKind::Decoration && part.Label == nullptr) return S_FALSE;
    const std::wstring text =
        part.Label != nullptr ? ToWide(part.Label->Caption()) : NameOf(*ControlOf(FHwnd));
    if (text.empty()) return S_FALSE;
    *name = MakeBstr(text);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return NoText(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return NoText(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file != nullptr) *file = nullptr;
    if (topic != nullptr) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }

  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (role == nullptr) return E_POINTER;
    InitVariant(role);
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    role->vt = VT_I4;
    role->lVal = part.Line > 0           ? ROLE_SYSTEM_LISTITEM
                 : part.Label != nullptr ? ROLE_SYSTEM_STATICTEXT
                                         : Role();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (state == nullptr) return E_POINTER;
    InitVariant(state);
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    state->vt = VT_I4;
    state->lVal = part.Line > 0           ? LineState(part.Line - 1)
                  : part.Label != nullptr ? STATE_SYSTEM_READONLY
                                          : State();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (focus == nullptr) return E_POINTER;
    InitVariant(focus);
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    HWND focused = GetFocus();
    if (focused == FHwnd) {
      focus->vt = VT_I4;
      const int caret = FKind == TAccessibleKind::List ? CaretLine() : -1;
      focus->lVal = caret >= 0 ? caret + 1 : CHILDID_SELF;
      return S_OK;
    }
    if (FKind != TAccessibleKind::Dialog || focused == nullptr || !IsChild(FHwnd, focused))
      return S_FALSE;
    IDispatch* object = nullptr;
    if (DispatchOf(focused, &object) != S_OK) return S_FALSE;
    focus->vt = VT_DISPATCH;
    focus->pdispVal = object;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (selection == nullptr) return E_POINTER;
    InitVariant(selection);
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    if (FKind != TAccessibleKind::List) return DISP_E_MEMBERNOTFOUND;
    const int selected = SelectedLine();
    if (selected < 0) return S_FALSE;
    selection->vt = VT_I4;
    selection->lVal = selected + 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (action == nullptr) return E_POINTER;
    *action = nullptr;
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    if (part.Line > 0 || part.Label != nullptr || FKind != TAccessibleKind::PushButton)
      return S_FALSE;
    *action = Ole()->SysAllocString(L"按下");
    return S_OK;
  }

  // A push button's default action is a click, delivered as BM_CLICK so that the caller
  // does not wait for the handler (which may show a message and wait for the operator);
  // the click is refused now, as it would be later, while the button takes no input or a
  // handler of its form is running.
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    if (part.Line > 0 || part.Label != nullptr || FKind != TAccessibleKind::PushButton)
      return DISP_E_MEMBERNOTFOUND;
    const TControl& button = *ControlOf(FHwnd);
    const TCustomForm* form = button.ParentForm();
    if (TakesNoInput(FHwnd) || !IsWindowVisible(FHwnd) || (form != nullptr && form->Busy()))
      return E_FAIL;
    return PostMessageW(FHwnd, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    if (part.Label != nullptr || !Focusable() || TakesNoInput(FHwnd)) return DISP_E_MEMBERNOTFOUND;
    if ((flags & SELFLAG_TAKEFOCUS) != 0) SetFocus(FHwnd);
    if (part.Line > 0 && (flags & SELFLAG_TAKESELECTION) != 0) {
      // As the user's choice of a line: selected, and the form told so.
      SendMessageW(FHwnd, LB_SETCURSEL, static_cast<WPARAM>(part.Line - 1), 0);
      SendMessageW(GetParent(FHwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(FHwnd), LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(FHwnd));
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr)
      return E_POINTER;
    *left = *top = *width = *height = 0;
    TPart part;
    if (HRESULT hr = Check(child, part); hr != S_OK) return hr;
    RECT r{};
    if (part.Label != nullptr) {
      r = ScreenPlace(*part.Label);
    } else if (part.Line > 0) {
      SendMessageW(FHwnd, LB_GETITEMRECT, static_cast<WPARAM>(part.Line - 1),
                   reinterpret_cast<LPARAM>(&r));
      MapWindowPoints(FHwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
      GetWindowRect(FHwnd, &r);
    }
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }

  // First and last child, and next and previous among the children of one object (the
  // lines of the list, the controls of the dialog).
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    if (end == nullptr) return E_POINTER;
    InitVariant(end);
    TPart part;
    if (HRESULT hr = Check(start, part); hr != S_OK) return hr;
    if (FKind == TAccessibleKind::List &&
        (part.Line > 0 || direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD)) {
      const long count = static_cast<long>(List()->Count());
      long to = 0;
      switch (direction) {
        case NAVDIR_FIRSTCHILD:
          to = part.Line == 0 ? 1 : 0;
          break;
        case NAVDIR_LASTCHILD:
          to = part.Line == 0 ? count : 0;
          break;
        case NAVDIR_NEXT:
        case NAVDIR_DOWN:
          to = part.Line + 1;
          break;
        case NAVDIR_PREVIOUS:
        case NAVDIR_UP:
          to = part.Line - 1;
          break;
        default:
          return DISP_E_MEMBERNOTFOUND;
      }
      if (to < 1 || to > count) return S_FALSE;
      end->vt = VT_I4;
      end->lVal = to;
      return S_OK;
    }
    if (direction != NAVDIR_FIRSTCHILD && direction != NAVDIR_LASTCHILD &&
        direction != NAVDIR_NEXT && direction != NAVDIR_PREVIOUS)
      return DISP_E_MEMBERNOTFOUND;
    const bool forward = direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_NEXT;
    if (part.Label != nullptr) {
      // From a label, one of this object's simple elements, to its neighbour here.
      if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD) return S_FALSE;
      return NavigateAmong(ReadChildren(), start.lVal - 1, forward, end);
    }
    if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD) {
      const std::vector<TReadChild> children = ReadChildren();
      if (children.empty()) return S_FALSE;
      const long at = forward ? 0 : static_cast<long>(children.size()) - 1;
      return Land(children, at, end);
    }
    // From this object to its neighbour among its parent's children. A label there is a
    // simple element of the parent, which no answer of this object can name: the
    // neighbour is the next window.
    HWND parent = ReadParent(FHwnd);
    if (parent == nullptr) return S_FALSE;
    std::vector<TReadChild> siblings;
    CollectReadChildren(parent, siblings);
    std::vector<TReadChild> windows;
    for (const TReadChild& c : siblings) {
      if (c.Window != nullptr) windows.push_back(c);
    }
    for (size_t i = 0; i < windows.size(); ++i) {
      if (windows[i].Window == FHwnd)
        return NavigateAmong(windows, static_cast<long>(i), forward, end);
    }
    return S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
    if (hit == nullptr) return E_POINTER;
    InitVariant(hit);
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    RECT r{};
    GetWindowRect(FHwnd, &r);
    const POINT p{x, y};
    if (!PtInRect(&r, p)) return S_FALSE;
    if (FKind == TAccessibleKind::List) {
      POINT client = p;
      ScreenToClient(FHwnd, &client);
      const LRESULT at = SendMessageW(FHwnd, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
      hit->vt = VT_I4;
      hit->lVal = HIWORD(at) == 0 ? static_cast<long>(LOWORD(at)) + 1 : CHILDID_SELF;
      return S_OK;
    }
    const std::vector<TReadChild> children = ReadChildren();
    for (size_t i = 0; i < children.size(); ++i) {
      RECT cr{};
      if (children[i].Label != nullptr) {
        cr = ScreenPlace(*children[i].Label);
      } else {
        GetWindowRect(children[i].Window, &cr);
      }
      if (PtInRect(&cr, p) && Land(children, static_cast<long>(i), hit) == S_OK) return S_OK;
    }
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~TAccessible() = default;

  // False once the window went (or its object was forgotten): a later window that takes the
  // same handle value is not this object's window.
  bool Alive() const { return !FOrphaned && ControlOf(FHwnd) != nullptr; }

 public:
  // The object's window is going: from now on every call but IUnknown's answers
  // CO_E_OBJNOTCONNECTED, whoever still holds the object.
  void Orphan() { FOrphaned = true; }

 private:
  TXPTolvikListBox* List() const { return dynamic_cast<TXPTolvikListBox*>(ControlOf(FHwnd)); }

  // What a child id names: S_OK for the object itself (an empty part), a line of a list,
  // or a label among the object's children.
  HRESULT Check(const VARIANT& child, TPart& part) const {
    if (!Alive()) return CO_E_OBJNOTCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    part = TPart{};
    if (child.lVal == CHILDID_SELF) return S_OK;
    if (FKind == TAccessibleKind::List) {
      if (child.lVal < 1 || child.lVal > List()->Count()) return E_INVALIDARG;
      part.Line = child.lVal;
      return S_OK;
    }
    const std::vector<TReadChild> children = ReadChildren();
    if (child.lVal < 1 || static_cast<size_t>(child.lVal) > children.size()) return E_INVALIDARG;
    part.Label = children[static_cast<size_t>(child.lVal - 1)].Label;
    return part.Label != nullptr ? S_OK : E_INVALIDARG;
  }

  HRESULT NoText(const VARIANT& child, BSTR* text) const {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    TPart part;
    const HRESULT hr = Check(child, part);
    return hr == S_OK ? S_FALSE : hr;
  }

  std::vector<TReadChild> ReadChildren() const {
    std::vector<TReadChild> children;
    CollectReadChildren(FHwnd, children);
    return children;
  }

  // children[at] as an answer: a window's object, or a label's child id here.
  static HRESULT Land(const std::vector<TReadChild>& children, long at, VARIANT* out) {
    const TReadChild& c = children[static_cast<size_t>(at)];
    if (c.Window == nullptr) {
      out->vt = VT_I4;
      out->lVal = at + 1;
      return S_OK;
    }
    IDispatch* object = nullptr;
    if (DispatchOf(c.Window, &object) != S_OK) return S_FALSE;
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    return S_OK;
  }

  // The neighbour of children[at], after it or before it.
  static HRESULT NavigateAmong(const std::vector<TReadChild>& children, long at, bool forward,
                               VARIANT* out) {
    const long to = at + (forward ? 1 : -1);
    if (to < 0 || to >= static_cast<long>(children.size())) return S_FALSE;
    return Land(children, to, out);
  }

  long Role() const {
    switch (FKind) {
      case TAccessibleKind::Dialog:
        return ROLE_SYSTEM_DIALOG;
      case TAccessibleKind::PushButton:
        return ROLE_SYSTEM_PUSHBUTTON;
      case TAccessibleKind::List:
        return ROLE_SYSTEM_LIST;
      case TAccessibleKind::Decoration:
        break;
    }
    return ROLE_SYSTEM_GROUPING;
  }

  bool Focusable() const {
    return FKind == TAccessibleKind::Dialog || FKind == TAccessibleKind::PushButton ||
           FKind == TAccessibleKind::List;
  }

  long State() const {
    if (FKind == TAccessibleKind::Decoration) return STATE_SYSTEM_INVISIBLE;
    long state = 0;
    if (!IsWindowVisible(FHwnd)) state |= STATE_SYSTEM_INVISIBLE;
    state |= STATE_SYSTEM_FOCUSABLE;
    const bool focused = GetFocus() == FHwnd;
    if (focused) state |= STATE_SYSTEM_FOCUSED;
    if (TakesNoInput(FHwnd)) state |= STATE_SYSTEM_UNAVAILABLE;
    // Enter presses the focused button: it is the dialog's default button while focused.
    if (FKind == TAccessibleKind::PushButton && focused) state |= STATE_SYSTEM_DEFAULT;
    return state;
  }

  int SelectedLine() const { return static_cast<int>(SendMessageW(FHwnd, LB_GETCURSEL, 0, 0)); }
  int CaretLine() const {
    const int count = List()->Count();
    const int caret = static_cast<int>(SendMessageW(FHwnd, LB_GETCARETINDEX, 0, 0));
    return caret >= 0 && caret < count ? caret : -1;
  }

  long LineState(long index) const {
    long state = STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_FOCUSABLE;
    if (SelectedLine() == index) state |= STATE_SYSTEM_SELECTED;
    if (GetFocus() == FHwnd && CaretLine() == index) state |= STATE_SYSTEM_FOCUSED;
    if (TakesNoInput(FHwnd)) state |= STATE_SYSTEM_UNAVAILABLE;
    RECT item{}, client{}, overlap{};
    SendMessageW(FHwnd, LB_GETITEMRECT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
    GetClientRect(FHwnd, &client);
    if (!IntersectRect(&overlap, &item, &client)) state |= STATE_SYSTEM_OFFSCREEN;
    return state;
  }

  // The object of another window as IDispatch: ours, or the system's for a window of a
  // system class.
  static HRESULT DispatchOf(HWND hwnd, IDispatch** out) {
    if (TAccessible* object = ObjectFor(hwnd)) {
      object->AddRef();
      *out = object;
      return S_OK;
    }
    return Ole()->AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), IID_IDispatch,
                                             reinterpret_cast<void**>(out)) == S_OK
               ? S_OK
               : S_FALSE;
  }

  LONG FRefs = 1;
  HWND FHwnd;
  TAccessibleKind FKind;
  bool FOrphaned = false;
};

// Keeps the module loaded for the rest of the process: an object of ours that a client in
// this process still holds is code of this module, so it must not be unmapped under the
// client when the host frees the module.
void PinThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinThisModule), &self);
}

// The window's object, made at the first request; null for windows that have none of
// ours or when COM cannot be joined in an apartment of the thread's own.
TAccessible* ObjectFor(HWND hwnd) {
  auto& objects = Objects();
  if (auto it = objects.find(hwnd); it != objects.end()) return it->second;
  TControl* control = ControlOf(hwnd);
  TAccessibleKind kind{};
  if (control == nullptr || !KindOf(*control, kind)) return nullptr;
  if (!gJoinedCom) {
    // S_FALSE (the host's apartment already) is a join too, and owes its uninitialise.
    // A multithreaded apartment would call the objects from any thread: left alone.
    if (Ole() == nullptr || FAILED(Ole()->CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
      return nullptr;
    gJoinedCom = true;
  }
  auto* object = new TAccessible(hwnd, kind);
  objects.emplace(hwnd, object);
  return object;
}

}  // namespace

LRESULT AnswerGetObject(TWindowPeer& peer, WPARAM wp, LPARAM lp) {
  if (static_cast<LONG>(lp) != OBJID_CLIENT) return 0;
  TAccessible* object = ObjectFor(peer.Hwnd());
  if (object == nullptr) return 0;
  const LRESULT result = Ole()->LresultFromObject(__uuidof(IAccessible), wp, object);
  return FAILED(static_cast<HRESULT>(result)) ? 0 : result;
}

void ForgetAccessible(HWND hwnd) {
  auto& objects = Objects();
  auto it = objects.find(hwnd);
  if (it == objects.end()) return;
  TAccessible* object = it->second;
  objects.erase(it);
  // The clients' references held through COM go now; the last local one with the release.
  // A client in this apartment holds the object itself (CoDisconnectObject does not reach
  // it): the object answers it as disconnected, and the module stays loaded while the
  // object may still be called.
  object->Orphan();
  Ole()->CoDisconnectObject(object, 0);
  if (object->Release() != 0) PinThisModule();
  if (objects.empty() && gJoinedCom) {
    gJoinedCom = false;
    Ole()->CoUninitialize();
  }
}

void NotifyFocusTaken(HWND hwnd, HWND previous) {
  if (previous != nullptr) return;
  TControl* c = ControlOf(hwnd);
  TAccessibleKind kind{};
  if (c == nullptr || !KindOf(*c, kind)) return;
  if (kind == TAccessibleKind::Dialog || kind == TAccessibleKind::PushButton ||
      kind == TAccessibleKind::List)
    NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

void NotifyListSelection(HWND list, int index) {
  if (index < 0) return;
  NotifyWinEvent(EVENT_OBJECT_SELECTION, list, OBJID_CLIENT, index + 1);
  if (GetFocus() == list) NotifyWinEvent(EVENT_OBJECT_FOCUS, list, OBJID_CLIENT, index + 1);
}

void NotifyListFocus(HWND list) {
  const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  const int caret = static_cast<int>(SendMessageW(list, LB_GETCARETINDEX, 0, 0));
  if (caret >= 0 && caret < count)
    NotifyWinEvent(EVENT_OBJECT_FOCUS, list, OBJID_CLIENT, caret + 1);
}

void NotifyDialogShown(HWND form, bool shown) {
  NotifyWinEvent(shown ? EVENT_SYSTEM_DIALOGSTART : EVENT_SYSTEM_DIALOGEND, form, OBJID_WINDOW,
                 CHILDID_SELF);
}
