#pragma once
// The sub-application's parameter list as it lies in memory, shared byte for byte by the
// host and its modules: the sub-application object, the list entries (TParamEntry), their
// value records (TParamValue) and the host objects that kind-7 and kind-8 values refer to.
//
// The host owns the sub-application object, its list and the entries. Each entry owns its
// value record; a kind-7 value also owns its object. Records, entries and objects all come
// from the allocator shared with the host, so either side may dispose of them.
//
//   TList* list = SubAppParams(GetCurSubAppVo());
//   auto* entry = static_cast<TParamEntry*>(list->Get(0));
//   HostStr text = entry->Value->StrValue;      // borrowed; the record holds the reference
//
// Host objects (kinds 7 and 8) carry their destructor with them: the first field points to
// a class table whose Destroy runs the object's clean-up and frees its memory block.
//
//   static const THostObjectClass kClass = {&DestroyMyObject};
//   auto* obj = static_cast<MyObject*>(HostAlloc(sizeof(MyObject)));
//   obj->Base.Class = &kClass;                 // THostObject is MyObject's first field
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "host/HostApi.h"
#include "host/HostList.h"
#include "host/HostMemory.h"

// Value kinds of an entry. Other values are the host's own; they get no object handling.
enum : uint8_t {
  pkString = 0,       // the text in StrValue
  pkOwnedObject = 7,  // ObjValue is owned by the entry and destroyed with the value
  pkObjectRef = 8,    // ObjValue belongs to someone else and is never destroyed here
};

struct THostObject;

// The class table of a host object. Destroy runs the object's clean-up and then frees
// its memory block to the shared allocator; it must not throw.
struct THostObjectClass {
  void (*Destroy)(THostObject* self);
};

// The head of every object a kind-7 or kind-8 value refers to.
struct THostObject {
  const THostObjectClass* Class;
};

// The 16-byte OLE Automation VARIANT shape. Tag 0 (VT_EMPTY) is empty.
struct TVarData {
  uint16_t VType;
  uint16_t Reserved1;
  uint16_t Reserved2;
  uint16_t Reserved3;
  union {
    int32_t VInteger;
    int64_t VInt64;
    double VDouble;
    void* VPointer;
  };
};
static_assert(sizeof(TVarData) == 16);

// Variant type tags the list knows how to release.
enum : uint16_t {
  kVarEmpty = 0,
  kVarOleStr = 8,
  kVarDispatch = 9,
  kVarUnknown = 13,
  kVarString = 0x100,  // the runtime's host string (HostMemory.h)
  kVarTypeMask = 0x0FFF,
  kVarArray = 0x2000,
  kVarByRef = 0x4000,
};

// A value record: 32 bytes on the target.
struct TParamValue {
  HostStr StrValue;
  uint32_t Unused1;  // the host's; never read or written here
  TVarData VarValue;
  THostObject* ObjValue;
  uint32_t Unused2;  // the host's; never read or written here
};

// A named parameter: 264 bytes on the target. Name is a short text: byte 0 holds the
// length n (0..255), bytes 1..n the characters; bytes after the n-th are undefined.
struct TParamEntry {
  uint8_t Name[256];
  uint8_t Kind;
  uint8_t Gap[3];  // alignment; never written here
  TParamValue* Value;
};

// The one field of the host's sub-application object that modules rely on: the parameter
// list reference after the first pointer-sized field (offset 4 on the target).
struct TSubAppVoHead {
  const void* ClassRef;
  TList* Params;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TParamValue) == 32);
static_assert(offsetof(TParamValue, StrValue) == 0);
static_assert(offsetof(TParamValue, VarValue) == 8);
static_assert(offsetof(TParamValue, ObjValue) == 24);
static_assert(sizeof(TParamEntry) == 264);
static_assert(offsetof(TParamEntry, Kind) == 256);
static_assert(offsetof(TParamEntry, Value) == 260);
static_assert(offsetof(TSubAppVoHead, Params) == 4);
#endif

inline TList* SubAppParams(void* subAppVo) { return static_cast<TSubAppVoHead*>(subAppVo)->Params; }

// Releases what a variant holds and leaves it empty. Released: the runtime's host string
// (kVarString) and interfaces (kVarUnknown, kVarDispatch: one Release through the
// interface). Plain values and references (kVarByRef) hold nothing to release. Wide system
// strings (kVarOleStr) and safe arrays belong to the system's automation allocator, which
// the parameter list does not use; they are dropped without release.
inline void ClearVarData(TVarData* v) {
  uint16_t type = v->VType;
  if ((type & (kVarByRef | kVarArray)) == 0) {
    switch (type & kVarTypeMask) {
      case kVarString:
        HostStrRelease(static_cast<HostStr>(v->VPointer));
        break;
      case kVarUnknown:
      case kVarDispatch:
        if (v->VPointer != nullptr) {
          struct TInterface {
            struct TVtbl {
              void* QueryInterface;
              void* AddRef;
              uint32_t(RS_STDCALL* Release)(TInterface* self);
            };
            const TVtbl* Vtbl;
          };
          auto* intf = static_cast<TInterface*>(v->VPointer);
          intf->Vtbl->Release(intf);
        }
        break;
      default:
        break;
    }
  }
  std::memset(v, 0, sizeof(TVarData));
}

// A new value record from the shared allocator: text and variant empty, the other words
// zero. Raises std::bad_alloc when there is no memory.
inline TParamValue* NewParamValue() {
  auto* value = static_cast<TParamValue*>(HostAlloc(sizeof(TParamValue)));
  if (value == nullptr) throw std::bad_alloc();
  std::memset(value, 0, sizeof(TParamValue));
  return value;
}

// Releases the record's text and variant and frees the record; ObjValue is not touched.
inline void DisposeParamValue(TParamValue* value) {
  if (value == nullptr) return;
  HostStrRelease(value->StrValue);
  value->StrValue = nullptr;
  ClearVarData(&value->VarValue);
  HostFree(value);
}

// Destroys a host object through its class table; an object without a destructor only
// has its memory block freed.
inline void DestroyHostObject(THostObject* obj) {
  if (obj == nullptr) return;
  if (obj->Class != nullptr && obj->Class->Destroy != nullptr) {
    obj->Class->Destroy(obj);
  } else {
    HostFree(obj);
  }
}
