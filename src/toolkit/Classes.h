#pragma once
// The toolkit's object model: objects with a class name, components owned by components,
// method-pointer events that can be compared, and window message records.
//
//   auto* label = new TLabel(form);            // the form owns it and frees it
//   button->OnClick = TNotifyEvent::Method<&Tfrm_option::btn_readerClick>(this);
//   if (edit->OnEnter.Assigned()) ...          // an event is a (code, data) pair
//
// Objects are destroyed with Free(), which runs the object's BeforeDestruction (a form's
// destroy event) while the whole object still exists; destructors are not public.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exception.h"

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  // The class's name as the toolkit knows it ("TLabel", "Tfrm_CustomDlgEx").
  virtual const char* ClassName() const { return "TObject"; }

  // Runs BeforeDestruction, then destroys the object. Null-safe through FreeAndNil.
  void Free();

 protected:
  virtual ~TObject() = default;
  // Last call on a complete object before its destructors run.
  virtual void BeforeDestruction() {}
};

// Frees obj (when not null) and clears the pointer.
template <class T>
void FreeAndNil(T*& obj) {
  T* doomed = obj;
  obj = nullptr;
  if (doomed != nullptr) doomed->Free();
}

// Owns one object and frees it with Free() on every path out of its scope.
//
//   TOwned<Tfrm_option> dialog(NewForm<Tfrm_option>(Application));
//   dialog->ShowModal();   // the dialog is freed here, or when ShowModal raises
struct TFreeObject {
  void operator()(TObject* obj) const { obj->Free(); }
};
template <class T>
using TOwned = std::unique_ptr<T, TFreeObject>;

// An operation failed because the object was not in a state that allows it.
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// An event with one argument, the sender: a code pointer and a data pointer, like a
// method bound to an object. Two events are equal when both parts are equal, so a
// handler can be recognised ("is XPEditEnter of this dialog installed here?").
class TNotifyEvent {
 public:
  TNotifyEvent() = default;

  // The member function M bound to self.
  template <auto M, class C>
  static TNotifyEvent Method(C* self) {
    TNotifyEvent e;
    e.FCode = reinterpret_cast<void*>(&Thunk<M, C>);
    e.FData = self;
    e.FCall = [](void* data, TObject* sender) { (static_cast<C*>(data)->*M)(sender); };
    return e;
  }
  // Any callable; equal only to copies of itself.
  static TNotifyEvent Function(std::function<void(TObject*)> fn);

  bool Assigned() const { return FCall != nullptr; }
  void operator()(TObject* sender) const {
    if (FCall != nullptr) FCall(FData, sender);
  }
  friend bool operator==(const TNotifyEvent& a, const TNotifyEvent& b) {
    return a.FCode == b.FCode && a.FData == b.FData;
  }

 private:
  template <auto M, class C>
  static void Thunk(void* data, TObject* sender) {
    (static_cast<C*>(data)->*M)(sender);
  }
  void* FCode = nullptr;
  void* FData = nullptr;
  void (*FCall)(void*, TObject*) = nullptr;
  std::shared_ptr<std::function<void(TObject*)>> FFunction;
};

// A component: named, owned by another component that frees it, owning components in
// index order (the order they were created in).
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  const char* ClassName() const override { return "TComponent"; }

  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TComponent* Owner() const { return FOwner; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(index); }
  // The owned component of that name (exact bytes), or null.
  TComponent* FindComponent(const std::string& name) const;

 protected:
  ~TComponent() override;
  // Frees every owned component, the last created first.
  void DestroyComponents();

 private:
  void InsertComponent(TComponent* c) { FComponents.push_back(c); }
  void RemoveComponent(TComponent* c);

  std::string FName;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};

// Shift state of a key event.
enum TShiftFlag : uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = uint8_t;

// A window message as a window procedure sees it.
struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

// Window message numbers the toolkit handles itself (the Windows values).
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmUser = 0x0400;
// Toolkit-private messages: the deferred release of a form and the modal-driver call.
constexpr uint32_t kCmRelease = 0xB021;
constexpr uint32_t kCmModalDriver = 0xB0F0;

// Virtual-key codes used by the toolkit and its users.
constexpr uint16_t kVkTab = 0x09;
constexpr uint16_t kVkReturn = 0x0D;
constexpr uint16_t kVkEscape = 0x1B;
constexpr uint16_t kVkSpace = 0x20;
constexpr uint16_t kVkPrior = 0x21;  // Page Up
constexpr uint16_t kVkNext = 0x22;   // Page Down
constexpr uint16_t kVkEnd = 0x23;
constexpr uint16_t kVkHome = 0x24;
constexpr uint16_t kVkUp = 0x26;
constexpr uint16_t kVkDown = 0x28;
constexpr uint16_t kVkF1 = 0x70;
constexpr uint16_t kVkF4 = 0x73;
