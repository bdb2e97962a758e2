// The stand-in host module services: every ModuleLib function of the host, answered from
// the host world of a host profile folder (HostProfile.h), plus the HostSim_ controls.
//
// Messages: in recording mode each InforMsg, GetMsg, InfoMsgBox and SetSkinSchemeCtrls call
// appends one line to the transcript and returns at once, so tests never block:
//   InforMsg 70000527 param=ACS ACR38U 0 text=读卡器 ACS ACR38U 0 已设置为当前读卡器。
//   GetMsg 70001008 param=
//   InfoMsgBox kind=0 text=...
//   SetSkinSchemeCtrls
// Fields are GB2312 bytes with backslash, CR and LF written as \\, \r and \n. In interactive
// mode InforMsg and InfoMsgBox show a message box instead.
//
// Catalogue texts take their parameter text at each "%s" ("%%" is a percent sign): InforMsg
// always fills them; GetMsg fills them when the parameter text is not empty and otherwise
// returns the text as it stands, so a format such as 70001008 reaches its caller intact.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "HostProfile.h"
#include "HostShow.h"
#include "HostSim.h"
#include "host/HostParams.h"

namespace {

// The host's records handed out as opaque references.
struct THostRecord {
  THostObject Base;
  std::string Name;
};

void DestroyRecord(THostObject* obj) { delete reinterpret_cast<THostRecord*>(obj); }
const THostObjectClass kRecordClass = {&DestroyRecord};

// The host's sub-application object: the list reference after the first field.
struct TSubAppVo {
  TSubAppVoHead Head;
  std::string Code;
};

struct THostWorld {
  THostProfile Profile;
  TSubAppVo* SubApp = nullptr;
  THostRecord* SubAppInfo = nullptr;
  THostRecord* User = nullptr;
  THostRecord* Company = nullptr;
};

THostWorld* gWorld = nullptr;
std::string gLastError;

THostRecord* NewRecord(const std::string& name) {
  auto* record = new THostRecord;
  record->Base.Class = &kRecordClass;
  record->Name = name;
  return record;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const TParamEntry* entry, std::string_view name) {
  if (entry->Name[0] != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (FoldAscii(static_cast<char>(entry->Name[1 + i])) != FoldAscii(name[i])) return false;
  }
  return true;
}

void AddParamEntry(TList* list, std::string_view name, uint8_t kind, std::string_view text,
                   void* obj) {
  auto* entry = static_cast<TParamEntry*>(HostAlloc(sizeof(TParamEntry)));
  if (entry == nullptr) throw std::bad_alloc();
  std::memset(entry, 0, sizeof(TParamEntry));
  size_t length = name.size() > 255 ? 255 : name.size();
  entry->Name[0] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(entry->Name + 1, name.data(), length);
  entry->Kind = kind;
  try {
    entry->Value = NewParamValue();
    entry->Value->StrValue = HostStrNew(text.data(), text.size());
    entry->Value->ObjValue = static_cast<THostObject*>(obj);
    list->Add(entry);
  } catch (...) {
    DisposeParamValue(entry->Value);
    HostFree(entry);
    throw;
  }
}

// The host destroys its sub-application object: every entry with its value record, and the
// objects that kind-7 values own.
void DestroySubApp(TSubAppVo* subApp) {
  if (subApp == nullptr) return;
  TList* list = subApp->Head.Params;
  for (int32_t i = 0; i < list->Count(); ++i) {
    auto* entry = static_cast<TParamEntry*>(list->Get(i));
    if (entry == nullptr) continue;
    if (entry->Value != nullptr) {
      if (entry->Kind == pkOwnedObject) DestroyHostObject(entry->Value->ObjValue);
      DisposeParamValue(entry->Value);
    }
    HostFree(entry);
  }
  TList::Destroy(list);
  delete subApp;
}

void DestroyWorld() {
  if (gWorld == nullptr) return;
  DestroySubApp(gWorld->SubApp);
  delete gWorld->SubAppInfo;
  delete gWorld->User;
  delete gWorld->Company;
  delete gWorld;
  gWorld = nullptr;
  HostLog_SetFile("");
}

void BuildWorld(THostProfile profile) {
  auto world = std::make_unique<THostWorld>();
  world->Profile = std::move(profile);
  const THostProfile& p = world->Profile;
  world->SubApp = new TSubAppVo{{nullptr, TList::Create()}, p.SubAppCode};
  world->SubAppInfo = NewRecord(p.SubAppCode);
  world->User = NewRecord(p.UserName);
  world->Company = NewRecord(p.CompanyName);
  gWorld = world.release();
  for (const auto& [name, text] : p.Params) {
    AddParamEntry(gWorld->SubApp->Head.Params, name, pkString, text, nullptr);
  }
  HostLog_SetFile(p.LogPath.c_str());
}

THostProfile DefaultProfile() {
  THostProfile profile;
  profile.SubAppPath = std::string(".") + PathSeparator();
  profile.AppPath = profile.SubAppPath;
  return profile;
}

int32_t OpenWorld(const char* dir) {
  DestroyWorld();
  try {
    BuildWorld(LoadHostProfile(dir == nullptr ? "" : dir));
    gLastError.clear();
    return 1;
  } catch (const std::exception& e) {
    gLastError = e.what();
  }
  DestroyWorld();
  BuildWorld(DefaultProfile());
  return 0;
}

THostWorld& World() {
  if (gWorld == nullptr) {
    const char* dir = std::getenv("RS_HOST_PROFILE");
    if (dir != nullptr && *dir != '\0') {
      if (OpenWorld(dir) == 0) AppendToFile("", "ModuleLib: " + gLastError + "\n");
    } else {
      BuildWorld(DefaultProfile());
    }
  }
  return *gWorld;
}

void SetResult(HostStr* result, HostStr value) {
  HostStr old = *result;
  *result = value;
  HostStrRelease(old);
}

void SetResult(HostStr* result, std::string_view text) {
  SetResult(result, HostStrNew(text.data(), text.size()));
}

std::string_view ShortView(const TShortText* text) {
  return text == nullptr ? std::string_view() : std::string_view(text->Chars, text->Length);
}

std::string CatalogueText(int32_t msgId) {
  const auto& catalogue = World().Profile.Catalogue;
  auto it = catalogue.find(msgId);
  if (it != catalogue.end()) return it->second;
  return "消息 " + std::to_string(msgId) + " 不在消息目录中";
}

void Record(const std::string& line) { AppendToFile(World().Profile.TranscriptPath, line + "\n"); }

void Show(const std::string& text) { ShowOperatorBox(World().Profile.AppHandle, "提示", text); }

}  // namespace

extern "C" {

MODULELIB_API THostHandle GetAppHandle(void) { return World().Profile.AppHandle; }
MODULELIB_API THostHandle GetMainFrameHandle(void) { return World().Profile.MainFrameHandle; }

MODULELIB_API void GetAppPath(HostStr* result) {
  try {
    SetResult(result, World().Profile.AppPath);
  } catch (...) {
  }
}

MODULELIB_API void GetCurSubAppPath(HostStr* result) {
  try {
    SetResult(result, World().Profile.SubAppPath);
  } catch (...) {
  }
}

MODULELIB_API void GetCurSubAppCode(HostStr* result) {
  try {
    SetResult(result, World().Profile.SubAppCode);
  } catch (...) {
  }
}

MODULELIB_API void GetCurFuncCode(HostStr* result) {
  try {
    SetResult(result, World().Profile.FuncCode);
  } catch (...) {
  }
}

MODULELIB_API void* GetCurSubAppInfo(void) { return World().SubAppInfo; }
MODULELIB_API void* GetCurSubAppVo(void) { return World().SubApp; }
MODULELIB_API void* GetUserInfoVO(void) { return World().User; }
MODULELIB_API void* GetCompanyInfoVO(void) { return World().Company; }

MODULELIB_API void GetUserConfigParam(HostStr section, HostStr key, HostStr defaultValue,
                                      HostStr* result) {
  try {
    auto value = World().Profile.UserConfig.Value(
        std::string_view(section == nullptr ? "" : section, HostStrLength(section)),
        std::string_view(key == nullptr ? "" : key, HostStrLength(key)));
    if (value) {
      SetResult(result, *value);
    } else {
      HostStrAddRef(defaultValue);
      SetResult(result, defaultValue);
    }
  } catch (...) {
  }
}

MODULELIB_API uint32_t gclModuleBackColor(void) { return World().Profile.ModuleBackColor; }
MODULELIB_API uint32_t gclTopBarColor(void) { return World().Profile.TopBarColor; }
MODULELIB_API uint32_t gclSysFontColor(void) { return World().Profile.SysFontColor; }
MODULELIB_API int32_t giSysFontSize(void) { return World().Profile.SysFontSize; }
MODULELIB_API uint8_t giSysFontCharSet(void) { return World().Profile.SysFontCharSet; }

MODULELIB_API void SetSkinSchemeCtrls(void*) {
  try {
    if (World().Profile.Recording) Record("SetSkinSchemeCtrls");
  } catch (...) {
  }
}

MODULELIB_API void InforMsg(int32_t msgId, const TShortText* param, bool) {
  try {
    std::string text = FillMsgText(CatalogueText(msgId), ShortView(param));
    if (World().Profile.Recording) {
      Record("InforMsg " + std::to_string(msgId) + " param=" + EscapeLine(ShortView(param)) +
             " text=" + EscapeLine(text));
    } else {
      Show(text);
    }
  } catch (...) {
  }
}

MODULELIB_API void GetMsg(int32_t msgId, const TShortText* param, bool, HostStr* result) {
  try {
    std::string text = CatalogueText(msgId);
    if (!ShortView(param).empty()) text = FillMsgText(text, ShortView(param));
    if (World().Profile.Recording) {
      Record("GetMsg " + std::to_string(msgId) + " param=" + EscapeLine(ShortView(param)));
    }
    SetResult(result, text);
  } catch (...) {
  }
}

MODULELIB_API void InfoMsgBox(HostStr text, int32_t kind) {
  try {
    std::string shown(text == nullptr ? "" : text, static_cast<size_t>(HostStrLength(text)));
    if (World().Profile.Recording) {
      Record("InfoMsgBox kind=" + std::to_string(kind) + " text=" + EscapeLine(shown));
    } else {
      Show(shown);
    }
  } catch (...) {
  }
}

HOSTSIM_API int32_t HostSim_Open(const char* profileDir) {
  try {
    return OpenWorld(profileDir);
  } catch (...) {
    return 0;
  }
}

HOSTSIM_API void HostSim_Close(void) {
  try {
    DestroyWorld();
    BuildWorld(DefaultProfile());
  } catch (...) {
  }
}

HOSTSIM_API const char* HostSim_LastError(void) { return gLastError.c_str(); }
HOSTSIM_API const char* HostSim_TranscriptPath(void) {
  return World().Profile.TranscriptPath.c_str();
}
HOSTSIM_API const char* HostSim_LogPath(void) { return World().Profile.LogPath.c_str(); }

HOSTSIM_API int32_t HostSim_Recording(void) { return World().Profile.Recording ? 1 : 0; }
HOSTSIM_API void HostSim_SetRecording(int32_t recording) {
  World().Profile.Recording = recording != 0;
}

HOSTSIM_API void HostSim_SetHandles(THostHandle app, THostHandle mainFrame) {
  World().Profile.AppHandle = app;
  World().Profile.MainFrameHandle = mainFrame;
}

HOSTSIM_API void HostSim_AddParam(const char* name, uint8_t kind, const char* text, void* obj) {
  try {
    AddParamEntry(World().SubApp->Head.Params, name == nullptr ? "" : name, kind,
                  text == nullptr ? "" : text, obj);
  } catch (...) {
  }
}

HOSTSIM_API int32_t HostSim_ParamCount(void) { return World().SubApp->Head.Params->Count(); }

HOSTSIM_API int32_t HostSim_GetParamText(const char* name, HostStr* result) {
  try {
    TList* list = World().SubApp->Head.Params;
    std::string_view wanted = name == nullptr ? "" : name;
    for (int32_t i = 0; i < list->Count(); ++i) {
      auto* entry = static_cast<TParamEntry*>(list->Get(i));
      if (!SameName(entry, wanted)) continue;
      HostStr text = entry->Value == nullptr ? nullptr : entry->Value->StrValue;
      HostStrAddRef(text);
      SetResult(result, text);
      return 1;
    }
  } catch (...) {
  }
  return 0;
}

}  // extern "C"
