#include "util/ParamList.h"

#include <cstring>
#include <new>

#include "platform/Exception.h"

namespace {

uint8_t Fold(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

std::string_view StoredName(const TParamEntry* entry) {
  return std::string_view(reinterpret_cast<const char*>(entry->Name + 1), entry->Name[0]);
}

int32_t FindIndex(TList* list, std::string_view name) {
  // The count is read once: a lookup sees the list as it was when it began.
  int32_t count = list->FCount;
  for (int32_t i = 0; i < count; ++i) {
    auto* entry = static_cast<TParamEntry*>(list->Get(i));
    if (CompareText(StoredName(entry), name) == 0) return i;
  }
  return -1;
}

bool ShouldReleaseObject(uint8_t oldKind, THostObject* oldObj, uint8_t newKind,
                         THostObject* newObj) {
  bool sameObject = newObj == oldObj;
  if (oldKind == pkOwnedObject) {
    // A new value that refers to the same object, owned or borrowed, keeps it alive.
    return !((newKind == pkOwnedObject || newKind == pkObjectRef) && sameObject);
  }
  if (oldKind == pkObjectRef) return !(newKind == pkObjectRef && sameObject);
  return false;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int diff = Fold(static_cast<uint8_t>(a[i])) - Fold(static_cast<uint8_t>(b[i]));
    if (diff != 0) return diff;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

TParamEntry* FindParam(void* subAppVo, std::string_view name) {
  TList* list = SubAppParams(subAppVo);
  int32_t index = FindIndex(list, name);
  return index < 0 ? nullptr : static_cast<TParamEntry*>(list->Get(index));
}

HostString GetParamStr(void* subAppVo, std::string_view name, const HostString& defaultValue) {
  TParamEntry* entry = FindParam(subAppVo, name);
  if (entry == nullptr || entry->Value == nullptr) return defaultValue;
  HostStr text = entry->Value->StrValue;
  HostStrAddRef(text);
  return HostString::Take(text);
}

void ReleaseParamValue(TParamEntry* entry, bool releaseObject) {
  TParamValue* old = entry->Value;
  if (releaseObject && old != nullptr) {
    if (entry->Kind == pkOwnedObject) {
      THostObject* obj = old->ObjValue;
      old->ObjValue = nullptr;
      try {
        DestroyHostObject(obj);
      } catch (...) {
        // The object's clean-up failed; its memory block still goes back to the host.
        try {
          HostFree(obj);
        } catch (...) {
        }
      }
    } else if (entry->Kind == pkObjectRef) {
      old->ObjValue = nullptr;
    }
  }
  try {
    DisposeParamValue(old);
  } catch (...) {
  }
}

void SetParam(void* subAppVo, std::string_view name, uint8_t kind, TParamValue* value) {
  TList* list = SubAppParams(subAppVo);
  int32_t index;
  try {
    index = FindIndex(list, name);
  } catch (...) {
    DisposeParamValue(value);
    throw;
  }
  if (index >= 0) {
    auto* entry = static_cast<TParamEntry*>(list->Get(index));
    TParamValue* old = entry->Value;
    if (value != nullptr && value == old) {
      throw Exception("SetParam: the new value is the record the entry already holds");
    }
    THostObject* oldObj = old == nullptr ? nullptr : old->ObjValue;
    THostObject* newObj = value == nullptr ? nullptr : value->ObjValue;
    ReleaseParamValue(entry, ShouldReleaseObject(entry->Kind, oldObj, kind, newObj));
    entry->Kind = kind;
    entry->Value = value;
    return;
  }

  auto* entry = static_cast<TParamEntry*>(HostAlloc(sizeof(TParamEntry)));
  if (entry == nullptr) {
    DisposeParamValue(value);
    throw std::bad_alloc();
  }
  std::memset(entry, 0, sizeof(TParamEntry));
  size_t length = name.size() > 255 ? 255 : name.size();
  entry->Name[0] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(entry->Name + 1, name.data(), length);
  entry->Kind = kind;
  entry->Value = value;
  try {
    list->Add(entry);
  } catch (...) {
    HostFree(entry);
    DisposeParamValue(value);
    throw;
  }
}

void SetParamStr(void* subAppVo, std::string_view name, const HostString& text) {
  TParamValue* value = NewParamValue();
  value->StrValue = text.Get();
  HostStrAddRef(value->StrValue);
  SetParam(subAppVo, name, pkString, value);
}
