// The parameter list written by the module and read by the stand-in host, and the reverse,
// through the layout both share.
#include "util/ParamList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostWorld.h"
#include "host/HostApi.h"

namespace {

// A host object that counts its destructions.
struct TCountedObject {
  THostObject Base;
  int* Destroyed;
};

void DestroyCounted(THostObject* obj) {
  auto* counted = reinterpret_cast<TCountedObject*>(obj);
  ++*counted->Destroyed;
  HostFree(counted);
}
const THostObjectClass kCountedClass = {&DestroyCounted};

TCountedObject* NewCounted(int* destroyed) {
  auto* obj = static_cast<TCountedObject*>(HostAlloc(sizeof(TCountedObject)));
  obj->Base.Class = &kCountedClass;
  obj->Destroyed = destroyed;
  return obj;
}

class ParamListTest : public ::testing::Test {
 protected:
  HostWorld FWorld;
  void SetUp() override { ASSERT_TRUE(FWorld.Opened()) << HostSim_LastError(); }

  static TList* List() { return SubAppParams(GetCurSubAppVo()); }
  static TParamEntry* Entry(int32_t index) { return static_cast<TParamEntry*>(List()->Get(index)); }
  static std::string NameOf(const TParamEntry* e) {
    return std::string(reinterpret_cast<const char*>(e->Name + 1), e->Name[0]);
  }
  static std::string HostText(const char* name) {
    HostString text;
    if (HostSim_GetParamText(name, text.Out()) != 1) return "<none>";
    return std::string(text.View());
  }
  // Names and texts in list order, as the host sees them.
  static std::vector<std::string> Listing() {
    std::vector<std::string> lines;
    for (int32_t i = 0; i < List()->Count(); ++i) {
      HostStr text = Entry(i)->Value->StrValue;
      lines.push_back(NameOf(Entry(i)) + "=" + std::string(text ? text : "", HostStrLength(text)));
    }
    return lines;
  }
};

TEST(ParamLayout, HostAndModuleShareTheOffsets) {
  // The list count is read straight from the object; the layouts are the host's.
  TList* list = TList::Create();
  int items[3];
  for (int& item : items) list->Add(&item);
  EXPECT_EQ(*reinterpret_cast<int32_t*>(reinterpret_cast<char*>(list) + 2 * sizeof(void*)), 3);
  EXPECT_EQ(list->Get(2), &items[2]);
  EXPECT_THROW(list->Get(3), Exception);
  EXPECT_THROW(list->Get(-1), Exception);
  TList::Destroy(list);
  TSubAppVoHead vo{nullptr, nullptr};
  EXPECT_EQ(reinterpret_cast<char*>(&vo.Params) - reinterpret_cast<char*>(&vo), sizeof(void*));
}

TEST(CompareTextTest, FoldsAsciiLettersOnly) {
  struct Case {
    const char* name;
    std::string a, b;
    bool equal;
  };
  const Case cases[] = {
      {"letter case", "Global_nuvreader", "GLOBAL_NUVREADER", true},
      {"digits and punctuation", "a_1-[", "A_1-[", true},
      {"length differs", "abc", "ab", false},
      {"empty against empty", "", "", true},
      {"empty against text", "", "a", false},
      {"double-byte characters match exactly", "读卡器", "读卡器", true},
      {"one trail byte differs", "\xB6\xC1", "\xB6\xC2", false},
      {"high bytes are not folded like letters", "\xE1", "\xC1", false},
      {"'[' is not a folded '{'", "[", "{", false},
      {"'@' and '`' differ", "@", "`", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompareText(c.a, c.b) == 0, c.equal);
    EXPECT_EQ(CompareText(c.b, c.a) == 0, c.equal);
  }
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
}

TEST_F(ParamListTest, Lookups) {
  std::string name255(255, 'N');
  const char* hostNames[] = {"Global_nuvreader", "读卡器", "dup", "DUP", "", name255.c_str()};
  for (const char* n : hostNames)
    HostSim_AddParam(n, pkString, (std::string("v:") + n).c_str(), nullptr);
  struct Case {
    const char* name;
    std::string query;
    int want;  // index of the entry found, -1 for none
  };
  const Case cases[] = {
      {"exact name", "Global_nuvreader", 0},
      {"capital letters", "GLOBAL_NUVREADER", 0},
      {"double-byte name", "读卡器", 1},
      {"double-byte name, one byte different", "读卡\xC6\xF8", -1},
      {"first of duplicates", "Dup", 2},
      {"empty name matches the empty entry", "", 4},
      {"255-byte name", name255, 5},
      {"256-byte name never matches the stored one", name255 + "N", -1},
      {"absent name", "Other", -1},
      {"prefix is not a match", "Global_nuv", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TParamEntry* found = FindParam(GetCurSubAppVo(), c.query);
    EXPECT_EQ(found, c.want < 0 ? nullptr : Entry(c.want));
    HostString text = GetParamStr(GetCurSubAppVo(), c.query, "default");
    EXPECT_EQ(text.View(), c.want < 0 ? "default" : "v:" + NameOf(Entry(c.want)));
  }
}

TEST_F(ParamListTest, AbsentNameWithEmptyDefaultReadsEmpty) {
  EXPECT_TRUE(GetParamStr(GetCurSubAppVo(), "Global_nuvreader", HostString()).Empty());
}

TEST_F(ParamListTest, ObjectEntriesYieldTheirTextNotTheDefault) {
  int destroyed = 0;
  HostSim_AddParam("owned", pkOwnedObject, "", NewCounted(&destroyed));
  HostSim_AddParam("borrowed", pkObjectRef, "ref text", nullptr);
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), "owned", "default").View(), "");
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), "borrowed", "default").View(), "ref text");
}

TEST_F(ParamListTest, EntryWithoutValueRecordReadsTheDefault) {
  HostSim_AddParam("broken", pkString, "x", nullptr);
  DisposeParamValue(Entry(0)->Value);
  Entry(0)->Value = nullptr;
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), "broken", "default").View(), "default");
}

TEST_F(ParamListTest, WritesInPlaceOrAppendInOrder) {
  HostSim_AddParam("First", pkString, "1", nullptr);
  HostSim_AddParam("Global_nuvreader", pkString, "old", nullptr);
  HostSim_AddParam("global_NUVREADER", pkString, "duplicate", nullptr);
  HostSim_AddParam("Last", pkString, "3", nullptr);

  SetParamStr(GetCurSubAppVo(), "GLOBAL_NUVREADER", "ACS ACR38U 0");
  SetParamStr(GetCurSubAppVo(), "New", "n");
  SetParamStr(GetCurSubAppVo(), "first", "changed");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"First=changed", "Global_nuvreader=ACS ACR38U 0",
                                                 "global_NUVREADER=duplicate", "Last=3", "New=n"}));
}

TEST_F(ParamListTest, LongNamesAreCutAndAppendEveryTime) {
  std::string longName = std::string(250, 'L') + "读卡器名称";  // 260 bytes
  SetParamStr(GetCurSubAppVo(), longName, "a");
  SetParamStr(GetCurSubAppVo(), longName, "b");
  ASSERT_EQ(List()->Count(), 2);
  EXPECT_EQ(NameOf(Entry(0)), longName.substr(0, 255));
  EXPECT_EQ(NameOf(Entry(1)), longName.substr(0, 255));
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), longName, "default").View(), "default");
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), longName.substr(0, 255), "").View(), "a");
}

TEST_F(ParamListTest, EmptyNameIsAName) {
  SetParamStr(GetCurSubAppVo(), "", "empty");
  SetParamStr(GetCurSubAppVo(), "x", "x");
  SetParamStr(GetCurSubAppVo(), "", "again");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"=again", "x=x"}));
}

TEST_F(ParamListTest, ModuleValueIsReadByTheHost) {
  std::string reader = "读卡器 ACS ACR38U 0";
  SetParamStr(GetCurSubAppVo(), "Global_nuvreader", HostString(reader));
  EXPECT_EQ(HostText("global_nuvreader"), reader);
  EXPECT_EQ(Entry(0)->Kind, pkString);
  // The host's value is read by the module.
  HostSim_AddParam("FromHost", pkString, "主机", nullptr);
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), "fromhost", "").View(), "主机");
}

TEST_F(ParamListTest, StoredTextSharesTheModuleBlock) {
  // The module's block outlives the module's own reference: the host frees it when the
  // entry goes (at HostSim_Close, checked by the sanitizers natively).
  HostString text("shared");
  SetParamStr(GetCurSubAppVo(), "p", text);
  EXPECT_EQ(Entry(0)->Value->StrValue, text.Get());
  EXPECT_EQ(HostStrHeaderOf(text.Get())->RefCount, 2);
  SetParamStr(GetCurSubAppVo(), "p", "other");
  EXPECT_EQ(HostStrHeaderOf(text.Get())->RefCount, 1);
}

struct ReleaseCase {
  const char* name;
  uint8_t oldKind;
  uint8_t newKind;
  bool sameObject;  // the new value refers to the old object (else to none or another)
  bool wantDestroyed;
};

TEST_F(ParamListTest, ReleaseRules) {
  const ReleaseCase cases[] = {
      {"owned replaced by text", pkOwnedObject, pkString, false, true},
      {"owned replaced by owned, same object", pkOwnedObject, pkOwnedObject, true, false},
      {"owned replaced by owned, other object", pkOwnedObject, pkOwnedObject, false, true},
      {"owned replaced by borrowed, same object", pkOwnedObject, pkObjectRef, true, false},
      {"owned replaced by borrowed, other object", pkOwnedObject, pkObjectRef, false, true},
      {"owned replaced by host kind", pkOwnedObject, 5, true, true},
      {"borrowed replaced by text", pkObjectRef, pkString, false, false},
      {"borrowed replaced by owned, same object", pkObjectRef, pkOwnedObject, true, false},
      {"borrowed replaced by borrowed, other", pkObjectRef, pkObjectRef, false, false},
      {"host kind with an object replaced by text", 5, pkString, false, false},
  };
  for (const ReleaseCase& c : cases) {
    SCOPED_TRACE(c.name);
    HostWorld world;
    int oldDestroyed = 0, otherDestroyed = 0;
    TCountedObject* oldObj = NewCounted(&oldDestroyed);
    TCountedObject* otherObj = NewCounted(&otherDestroyed);
    HostSim_AddParam("obj", c.oldKind, "old", oldObj);

    TParamValue* value = NewParamValue();
    value->ObjValue = c.newKind == pkString ? nullptr : &(c.sameObject ? oldObj : otherObj)->Base;
    SetParam(GetCurSubAppVo(), "OBJ", c.newKind, value);
    EXPECT_EQ(oldDestroyed, c.wantDestroyed ? 1 : 0);
    EXPECT_EQ(otherDestroyed, 0);
    ASSERT_EQ(List()->Count(), 1);
    EXPECT_EQ(Entry(0)->Kind, c.newKind);
    EXPECT_EQ(Entry(0)->Value, value);

    // A further text never destroys what is left borrowed, and destroys what is owned once.
    SetParamStr(GetCurSubAppVo(), "obj", "t");
    int wantOld = (c.wantDestroyed || (c.newKind == pkOwnedObject && c.sameObject)) ? 1 : 0;
    int wantOther = (c.newKind == pkOwnedObject && !c.sameObject) ? 1 : 0;
    EXPECT_EQ(oldDestroyed, wantOld);
    EXPECT_EQ(otherDestroyed, wantOther);
    HostSim_Close();  // the host disposes of its list; text entries destroy nothing
    EXPECT_EQ(oldDestroyed, wantOld);
    if (oldDestroyed == 0) DestroyHostObject(&oldObj->Base);
    if (otherDestroyed == 0) DestroyHostObject(&otherObj->Base);
  }
}

TEST_F(ParamListTest, OwnedObjectsAreDestroyedByTheHostWhenStillOwned) {
  int destroyed = 0;
  TCountedObject* obj = NewCounted(&destroyed);
  HostSim_AddParam("obj", pkOwnedObject, "", obj);
  TParamValue* value = NewParamValue();
  value->ObjValue = &obj->Base;
  SetParam(GetCurSubAppVo(), "obj", pkOwnedObject, value);  // same object: kept
  EXPECT_EQ(destroyed, 0);
  HostSim_Close();
  EXPECT_EQ(destroyed, 1);
}

TEST_F(ParamListTest, ObjectWithoutDestructorHasItsBlockFreed) {
  auto* bare = static_cast<THostObject*>(HostAlloc(64));
  bare->Class = nullptr;
  HostSim_AddParam("bare", pkOwnedObject, "", bare);
  SetParamStr(GetCurSubAppVo(), "bare", "t");  // the sanitizers see the block freed once
  EXPECT_EQ(GetParamStr(GetCurSubAppVo(), "bare", "").View(), "t");
}

struct TCountedInterface {
  struct TVtbl {
    void* QueryInterface;
    void* AddRef;
    uint32_t(RS_STDCALL* Release)(TCountedInterface* self);
  };
  const TVtbl* Vtbl;
  int Released;
};

uint32_t RS_STDCALL ReleaseCounted(TCountedInterface* self) { return ++self->Released, 0; }
const TCountedInterface::TVtbl kCountedVtbl = {nullptr, nullptr, &ReleaseCounted};

TEST_F(ParamListTest, OldVariantIsReleased) {
  HostSim_AddParam("str", pkString, "", nullptr);
  HostSim_AddParam("intf", pkString, "", nullptr);
  HostSim_AddParam("int", pkString, "", nullptr);
  HostStr held = HostStrNew("variant", 7);
  HostStrAddRef(held);
  Entry(0)->Value->VarValue.VType = kVarString;
  Entry(0)->Value->VarValue.VPointer = held;
  TCountedInterface intf{&kCountedVtbl, 0};
  Entry(1)->Value->VarValue.VType = kVarUnknown;
  Entry(1)->Value->VarValue.VPointer = &intf;
  Entry(2)->Value->VarValue.VType = 3;  // a plain integer
  Entry(2)->Value->VarValue.VInteger = 42;

  for (const char* name : {"str", "intf", "int"}) SetParamStr(GetCurSubAppVo(), name, "new");
  EXPECT_EQ(HostStrHeaderOf(held)->RefCount, 1);
  EXPECT_EQ(intf.Released, 1);
  HostStrRelease(held);
}

TEST_F(ParamListTest, StoringTheHeldRecordAgainIsRefused) {
  SetParamStr(GetCurSubAppVo(), "p", "kept");
  EXPECT_THROW(SetParam(GetCurSubAppVo(), "p", pkString, Entry(0)->Value), Exception);
  EXPECT_EQ(HostText("p"), "kept");
}

}  // namespace
