// The plug-in frame against the recording fake of the feature layer:
// creation and reference counting, interface queries, the entry points and
// their failure reports, the menu cycle with deferred submenus and the
// menu-populate handler on real menus, the menu identifiers, and allocation
// sweeps over the entry points.
#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include "autorelease_pool.h"
#include "fake_feature.h"
#include "frame_int.h"
#include "plugin_identity.h"
#include "test_support.h"

using fake_feature::Fn;
using vantlow_test::StdoutCapture;

// ---- Watching the factory's unregistration ----
// The frame is linked into this executable, so this definition takes the
// frame's call; it notes how many malloc blocks were still alive at that
// moment and passes the call on to the platform.
namespace {
long gBlocksAtUnregister = -1;
long gLiveYourDataAtUnregister = -1;
} // namespace

extern "C" void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) noexcept {
  gBlocksAtUnregister = vantlow_test::WrappedLiveCount();
  gLiveYourDataAtUnregister = fake_feature::LiveYourData();
  using Fn2 = void (*)(CFUUIDRef) noexcept;
  static Fn2 next = reinterpret_cast<Fn2>(dlsym(RTLD_NEXT, "CFPlugInRemoveInstanceForFactory"));
  if (next) next(factoryID);
}

namespace {

std::string Text(CFStringRef str) {
  if (!str) return "(null)";
  CFIndex length = CFStringGetLength(str), needed = 0;
  CFStringGetBytes(str, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false, nullptr, 0,
                   &needed);
  std::string out(static_cast<size_t>(needed), '\0');
  CFStringGetBytes(str, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(out.data()), needed, &needed);
  return out;
}

CFUUIDBytes BytesOf(CFUUIDRef uuid) {
  return CFUUIDGetUUIDBytes(uuid);
}

UInt32 gTicks = 0;
UInt32 DrivenTicks() {
  return gTicks;
}

void NoBell() {}

// An Apple Event list owned by the test.
struct DescList {
  AEDescList desc;
  DescList() {
    AEInitializeDesc(&desc);
    EXPECT_EQ(AECreateList(nullptr, 0, false, &desc), noErr);
  }
  ~DescList() { AEDisposeDesc(&desc); }
  long Count() const {
    long n = -1;
    AECountItems(&desc, &n);
    return n;
  }
};

// A Menu Manager menu with the given items.
struct Menu {
  MenuRef ref = nullptr;
  explicit Menu(const std::vector<CFStringRef> &items) {
    EXPECT_EQ(CreateNewMenu(1, 0, &ref), noErr);
    for (CFStringRef item : items)
      EXPECT_EQ(AppendMenuItemTextWithCFString(ref, item, 0, 0, nullptr), noErr);
  }
  ~Menu() { ReleaseMenu(ref); }
  std::vector<std::string> Items() const {
    std::vector<std::string> out;
    for (UInt16 i = 1; i <= CountMenuItems(ref); ++i) {
      CFStringRef text = nullptr;
      CopyMenuItemTextAsCFString(ref, i, &text);
      out.push_back(Text(text));
      if (text) CFRelease(text);
    }
    return out;
  }
};

// A menu-populate event for the menu, sent to the application target.
OSStatus SendPopulate(MenuRef menu) {
  EventRef event = nullptr;
  OSStatus status = CreateEvent(nullptr, kEventClassMenu, kEventMenuPopulate, 0, 0, &event);
  if (status != noErr) return status;
  status = SetEventParameter(event, kEventParamDirectObject, typeMenuRef, sizeof menu, &menu);
  if (status == noErr) status = SendEventToEventTarget(event, GetApplicationEventTarget());
  ReleaseEvent(event);
  return status;
}

ItemCount AppHandlers() {
  return VPEventTargetCountHandlers(GetApplicationEventTarget());
}

class Frame : public ::testing::Test {
protected:
  void SetUp() override {
    fake_feature::Reset();
    VPSysBeepSetHandler(NoBell);
    // The pool stack lives for the process; make it before counting.
    MyCFAutoreleasePoolDispose(MyCFAutoreleasePoolCreate());
    objects_ = VPLiveObjectCount();
    blocks_ = vantlow_test::WrappedLiveCount();
    instances_ = VPPlugInGetInstanceCount(kMyFactoryID);
    handlers_ = AppHandlers();
  }
  void TearDown() override {
    VPFaultDisarm();
    VPTickCountSetSource(nullptr);
    fake_feature::Reset();
    VPSysBeepSetHandler(nullptr);
    EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_) << "instances left";
    EXPECT_EQ(AppHandlers(), handlers_) << "handlers left installed";
    EXPECT_EQ(VPLiveObjectCount(), objects_) << "objects leaked";
    EXPECT_EQ(vantlow_test::WrappedLiveCount(), blocks_) << "malloc blocks leaked";
  }

  static MyCMXType *Make() {
    return static_cast<MyCMXType *>(MyCMMFactory(nullptr, kContextualMenuTypeID));
  }
  // An instance as the host holds it: made, queried for the interface, the
  // factory's reference given back.
  static MyCMXType *MakeQueried() {
    MyCMXType *instance = Make();
    if (!instance) return nullptr;
    void *interface = nullptr;
    EXPECT_EQ(MyCMXQueryInterface(instance, BytesOf(kContextualMenuInterfaceID), &interface), S_OK);
    EXPECT_EQ(MyCMXRelease(instance), 1u);
    return static_cast<MyCMXType *>(interface);
  }

  long objects_ = 0, blocks_ = 0, instances_ = 0;
  ItemCount handlers_ = 0;
};

// ---- Creation ----

TEST_F(Frame, FactoryServesOnlyTheContextualMenuType) {
  struct Case {
    const char *name;
    CFUUIDRef type;
    bool creates;
  } cases[] = {
      {"contextual-menu type", kContextualMenuTypeID, true},
      {"the interface ID", kContextualMenuInterfaceID, false},
      {"IUnknown", IUnknownUUID, false},
      {"the factory's own ID", kMyFactoryID, false},
      {"null", nullptr, false},
  };
  for (const Case &c : cases) {
    fake_feature::Reset();
    void *instance = MyCMMFactory(nullptr, c.type);
    EXPECT_EQ(instance != nullptr, c.creates) << c.name;
    EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_ + (c.creates ? 1 : 0)) << c.name;
    EXPECT_EQ(fake_feature::CallSequence(),
              c.creates ? std::vector<Fn>{Fn::kCreateYourData} : std::vector<Fn>{})
        << c.name;
    if (instance) {
      auto *record = static_cast<MyCMXType *>(instance);
      const ContextualMenuInterfaceStruct *table = record->ftbl;
      EXPECT_EQ(table->_reserved, nullptr);
      EXPECT_EQ(table->QueryInterface, &MyCMXQueryInterface);
      EXPECT_EQ(table->PostMenuCleanup, &MyCMXPostMenuCleanup);
      EXPECT_EQ(record->phase, kPhaseAllocate);
      EXPECT_EQ(MyCMXRelease(instance), 0u);
    }
  }
}

TEST_F(Frame, FactoryWithoutMemoryMakesNothing) {
  VPFaultArm(1, true);
  void *instance = MyCMMFactory(nullptr, kContextualMenuTypeID);
  VPFaultDisarm();
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_);
  EXPECT_TRUE(fake_feature::calls().empty());
}

TEST_F(Frame, FactoryIdentityMatchesItsPropertyListString) {
  CFStringRef text = CFUUIDCreateString(nullptr, kMyFactoryID);
  EXPECT_EQ(Text(text), VANTLOW_FACTORY_UUID);
  if (text) CFRelease(text);
}

TEST_F(Frame, ReferencesCountDownToDestruction) {
  MyCMXType *instance = Make();
  ASSERT_NE(instance, nullptr);
  void *yourData = instance->yourData;
  ASSERT_NE(yourData, nullptr);
  void *interface = nullptr;
  ASSERT_EQ(MyCMXQueryInterface(instance, BytesOf(kContextualMenuInterfaceID), &interface), S_OK);
  EXPECT_EQ(MyCMXAddRef(instance), 3u);
  EXPECT_EQ(MyCMXRelease(instance), 2u);
  EXPECT_EQ(MyCMXRelease(instance), 1u);
  EXPECT_TRUE(fake_feature::CallSequence() ==
              (std::vector<Fn>{Fn::kCreateYourData, Fn::kQueryInterfaceSelf}));

  long blocksBefore = vantlow_test::WrappedLiveCount();
  gBlocksAtUnregister = gLiveYourDataAtUnregister = -1;
  EXPECT_EQ(MyCMXRelease(instance), 0u);
  ASSERT_EQ(fake_feature::calls().back().fn, Fn::kDisposeYourData);
  EXPECT_EQ(fake_feature::calls().back().yourData, yourData);
  // Unregistered only once the feature record and the instance record were
  // both freed.
  EXPECT_EQ(gLiveYourDataAtUnregister, 0);
  EXPECT_EQ(gBlocksAtUnregister, blocksBefore - 2);
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_);
}

TEST_F(Frame, NullInstanceCounts) {
  EXPECT_EQ(MyCMXAddRef(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(MyCMXRelease(nullptr), 0xFFFFFFFFu);
}

TEST_F(Frame, FeatureDataMayBeNull) {
  fake_feature::settings().createReturnsNull = true;
  MyCMXType *instance = Make();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->yourData, nullptr);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
  EXPECT_EQ(fake_feature::calls().back().fn, Fn::kDisposeYourData);
  EXPECT_EQ(fake_feature::calls().back().yourData, nullptr);
}

// ---- Interface queries ----

struct QueryCase {
  const char *name;
  CFUUIDRef iid;
  long failingAllocation; // 1: the UUID object, 2: the pool's record; 0: none
  OSStatus featureStatus;
  HRESULT result;
  bool selfCalled;
  UInt32 phase; // after the call
  long beeps;
  std::string log;
};

// Rows print as their names in test listings.
void PrintTo(const QueryCase &row, std::ostream *os) {
  *os << row.name;
}

class QueryInterface : public Frame, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryInterface, AnswersAndReports) {
  const QueryCase &c = GetParam();
  fake_feature::settings().queryStatus = c.featureStatus;
  MyCMXType *instance = Make();
  ASSERT_NE(instance, nullptr);
  long beeps = VPSysBeepCount();
  void *out = reinterpret_cast<void *>(0x1);
  StdoutCapture capture;
  if (c.failingAllocation) VPFaultArm(c.failingAllocation, false);
  HRESULT result = MyCMXQueryInterface(instance, BytesOf(c.iid), &out);
  VPFaultDisarm();
  EXPECT_EQ(capture.Take(), c.log);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(out, c.result == S_OK ? static_cast<void *>(instance) : nullptr);
  EXPECT_EQ(instance->phase, c.phase);
  EXPECT_EQ(VPSysBeepCount() - beeps, c.beeps);
  bool selfCalled = false;
  for (const fake_feature::Call &call : fake_feature::calls()) {
    if (call.fn != Fn::kQueryInterfaceSelf) continue;
    selfCalled = true;
    EXPECT_EQ(call.yourData, instance->yourData);
    EXPECT_EQ(call.instance, instance);
  }
  EXPECT_EQ(selfCalled, c.selfCalled);
  // Only a successful query added a reference.
  if (c.result == S_OK) {
    EXPECT_EQ(MyCMXRelease(instance), 1u);
  }
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QueryInterface,
    ::testing::ValuesIn(std::vector<QueryCase>{
        {"ContextualMenuInterface", kContextualMenuInterfaceID, 0, noErr, S_OK, true, kPhaseQuery,
         0, ""},
        {"IUnknown", IUnknownUUID, 0, noErr, S_OK, true, kPhaseQuery, 0, ""},
        {"OtherID", kContextualMenuTypeID, 0, noErr, E_NOINTERFACE, false, kPhaseAllocate, 0, ""},
        {"NoUUIDObject", kContextualMenuInterfaceID, 1, noErr, E_NOINTERFACE, false, kPhaseAllocate,
         0, ""},
        {"NoPool", kContextualMenuInterfaceID, 2, noErr, E_NOINTERFACE, false, kPhaseQuery, 0, ""},
        {"FeatureRefuses", kContextualMenuInterfaceID, 0, paramErr, E_NOINTERFACE, true,
         kPhaseQuery, 1, "Vantlow: execution fail: error=-50, phase is 'Query'\n"},
        {"FeatureRefusesQuietly", IUnknownUUID, 0, kMyNoBeepErr, E_NOINTERFACE, true, kPhaseQuery,
         0, ""},
    }),
    [](const ::testing::TestParamInfo<QueryCase> &row) { return std::string(row.param.name); });

TEST_F(Frame, BothInterfacesAreTheRecord) {
  MyCMXType *instance = Make();
  ASSERT_NE(instance, nullptr);
  void *a = nullptr, *b = nullptr;
  EXPECT_EQ(MyCMXQueryInterface(instance, BytesOf(kContextualMenuInterfaceID), &a), S_OK);
  EXPECT_EQ(MyCMXQueryInterface(instance, BytesOf(IUnknownUUID), &b), S_OK);
  EXPECT_EQ(a, static_cast<void *>(instance));
  EXPECT_EQ(b, a);
  EXPECT_EQ(MyCMXRelease(instance), 2u);
  EXPECT_EQ(MyCMXRelease(instance), 1u);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

TEST_F(Frame, QueryWithNullArguments) {
  MyCMXType *instance = Make();
  ASSERT_NE(instance, nullptr);
  void *out = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(MyCMXQueryInterface(nullptr, BytesOf(kContextualMenuInterfaceID), &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(MyCMXQueryInterface(instance, BytesOf(kContextualMenuInterfaceID), nullptr),
            E_NOINTERFACE);
  EXPECT_EQ(instance->phase, kPhaseAllocate);
  EXPECT_TRUE(fake_feature::CallSequence() == std::vector<Fn>{Fn::kCreateYourData});
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- The failure table ----
// Each row drives one entry point into one failure and checks the result,
// the beep and the log line.

struct FailureRow {
  const char *name;
  // Runs the failing call on a queried instance (phase 2) and returns its
  // result.
  std::function<long(MyCMXType *instance, AEDescList *commands)> act;
  long result;
  long beeps;
  std::string log;
};

// Rows print as their names in test listings.
void PrintTo(const FailureRow &row, std::ostream *os) {
  *os << row.name;
}

class FailureTable : public Frame, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FailureTable, ResultBeepAndLog) {
  const FailureRow &row = GetParam();
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  DescList commands;
  long beeps = VPSysBeepCount();
  StdoutCapture capture;
  long result = row.act(instance, &commands.desc);
  VPFaultDisarm();
  EXPECT_EQ(capture.Take(), row.log);
  EXPECT_EQ(result, row.result);
  EXPECT_EQ(VPSysBeepCount() - beeps, row.beeps);
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

const std::string kLogNilExamine =
    "Vantlow: execution fail: error='NilP', phase is 'ExamineContext'\n";
const std::string kLogNilSelection =
    "Vantlow: execution fail: error='NilP', phase is 'HandleSelection'\n";

std::vector<FailureRow> FailureRows() {
  auto examine = [](OSStatus featureStatus) {
    return [featureStatus](MyCMXType *instance, AEDescList *commands) -> long {
      fake_feature::settings().examineStatus = featureStatus;
      DescList context;
      return MyCMXExamineContext(instance, &context.desc, commands);
    };
  };
  auto select = [](OSStatus featureStatus) {
    return [featureStatus](MyCMXType *instance, AEDescList *) -> long {
      fake_feature::settings().selectionStatus = featureStatus;
      DescList context;
      return MyCMXHandleSelection(instance, &context.desc, 2001);
    };
  };
  // Allocation n after the feature's ExamineContext fails: 1 is the
  // application target's probe, 2 the UPP, 3 the handler's installation.
  auto installFailing = [](long n) {
    return [n](MyCMXType *instance, AEDescList *commands) -> long {
      fake_feature::settings().examineSetsAllowInstall = 1;
      fake_feature::settings().examineAppendsItem = true;
      fake_feature::settings().examineArmsFault = n;
      DescList context;
      return MyCMXExamineContext(instance, &context.desc, commands);
    };
  };
  return {
      {"ExamineNullInstance",
       [](MyCMXType *, AEDescList *commands) -> long {
         return MyCMXExamineContext(nullptr, nullptr, commands);
       },
       paramErr, 1, ""},
      {"SelectionNullInstance",
       [](MyCMXType *, AEDescList *) -> long { return MyCMXHandleSelection(nullptr, nullptr, 1); },
       paramErr, 1, ""},
      {"ExamineWithoutPool",
       [](MyCMXType *instance, AEDescList *commands) -> long {
         DescList context;
         VPFaultArm(1, false); // the pool's record
         return MyCMXExamineContext(instance, &context.desc, commands);
       },
       kMyNilPointerErr, 1, kLogNilExamine},
      {"SelectionWithoutPool",
       [](MyCMXType *instance, AEDescList *) -> long {
         DescList context;
         VPFaultArm(1, false);
         return MyCMXHandleSelection(instance, &context.desc, 2000);
       },
       kMyNilPointerErr, 1, kLogNilSelection},
      {"ExamineFeatureFails", examine(memFullErr), memFullErr, 1,
       "Vantlow: execution fail: error=-108, phase is 'ExamineContext'\n"},
      {"ExamineFeatureFailsQuietly", examine(kMyNoBeepErr), kMyNoBeepErr, 0, ""},
      {"SelectionFeatureFails", select(userCanceledErr), userCanceledErr, 1,
       "Vantlow: execution fail: error=-128, phase is 'HandleSelection'\n"},
      {"SelectionFeatureFailsQuietly", select(kMyNoBeepErr), kMyNoBeepErr, 0, ""},
      {"InstallNoApplicationTarget", installFailing(1), kMyNilPointerErr, 1, kLogNilExamine},
      {"InstallNoUPP", installFailing(2), memFullErr, 1,
       "Vantlow: execution fail: error=-108, phase is 'ExamineContext'\n"},
      {"InstallEventHandlerFails", installFailing(3), memFullErr, 1,
       "Vantlow: execution fail: error=-108, phase is 'ExamineContext'\n"},
  };
}

INSTANTIATE_TEST_SUITE_P(Rows, FailureTable, ::testing::ValuesIn(FailureRows()),
                         [](const ::testing::TestParamInfo<FailureRow> &row) {
                           return std::string(row.param.name);
                         });

TEST_F(Frame, FailedInstallationLeavesTheFeaturesList) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::settings().examineSetsAllowInstall = 1;
  fake_feature::settings().examineAppendsItem = true;
  fake_feature::settings().examineArmsFault = 2; // the UPP
  DescList context, commands;
  {
    StdoutCapture quiet;
    EXPECT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), memFullErr);
  }
  EXPECT_EQ(commands.Count(), 1);
  EXPECT_EQ(AppHandlers(), handlers_);
  // The failed call still counts as open until its cleanup.
  EXPECT_EQ(instance->examineCount, 1u);
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(instance->examineCount, 0u);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- The entry points' calls into the feature ----

TEST_F(Frame, EntryPointsHandTheirArgumentsOnInsideAPool) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::Reset();
  fake_feature::settings().probePools = true;
  DescList context, commands;
  EXPECT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr);
  EXPECT_EQ(instance->phase, kPhaseExamineContext);
  EXPECT_EQ(MyCMXHandleSelection(instance, &context.desc, 2004), noErr);
  EXPECT_EQ(instance->phase, kPhaseHandleSelection);
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(instance->phase, kPhasePostMenuCleanup);

  const std::vector<fake_feature::Call> &calls = fake_feature::calls();
  ASSERT_EQ(fake_feature::CallSequence(),
            (std::vector<Fn>{Fn::kExamineContextSelf, Fn::kHandleSelectionSelf,
                             Fn::kPostMenuCleanupSelf}));
  EXPECT_EQ(calls[0].context, &context.desc);
  EXPECT_EQ(calls[0].commandList, &commands.desc);
  EXPECT_EQ(calls[1].context, &context.desc);
  EXPECT_EQ(calls[1].commandID, 2004);
  for (const fake_feature::Call &call : calls) {
    EXPECT_EQ(call.yourData, instance->yourData);
    EXPECT_EQ(call.instance, instance);
    // The pool around the call is gone, and took its reference with it.
    ASSERT_NE(call.poolProbe, nullptr);
    EXPECT_EQ(CFGetRetainCount(call.poolProbe), 1);
  }
  EXPECT_EQ(instance->examineCount, 0u) << "HandleSelection must not touch the nesting count";
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

TEST_F(Frame, HandleErrorReports) {
  struct Case {
    const char *name;
    OSStatus err;
    bool withInstance;
    long beeps;
    std::string log;
    bool featureTold;
  } cases[] = {
      {"no error", noErr, true, 0, "", false},
      {"no-beep error", kMyNoBeepErr, true, 0, "", false},
      {"null instance", paramErr, false, 1, "", false},
      {"error", paramErr, true, 1,
       "Vantlow: execution fail: error=-50, phase is 'HandleSelection'\n", true},
  };
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  instance->phase = kPhaseHandleSelection;
  for (const Case &c : cases) {
    fake_feature::Reset();
    fake_feature::settings().probePools = true;
    long beeps = VPSysBeepCount();
    StdoutCapture capture;
    MyCMXHandleError(c.err, c.withInstance ? instance : nullptr);
    EXPECT_EQ(capture.Take(), c.log) << c.name;
    EXPECT_EQ(VPSysBeepCount() - beeps, c.beeps) << c.name;
    ASSERT_EQ(fake_feature::calls().size(), c.featureTold ? 1u : 0u) << c.name;
    if (c.featureTold) {
      const fake_feature::Call &call = fake_feature::calls()[0];
      EXPECT_EQ(call.error, c.err);
      EXPECT_EQ(call.phase, kPhaseHandleSelection);
      EXPECT_EQ(CFGetRetainCount(call.poolProbe), 1);
    }
  }
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- Menu cycles ----

TEST_F(Frame, HandlerOnlyForDeferredModeAndANonEmptyList) {
  struct Case {
    const char *name;
    int allow;
    bool appends;
    bool installs;
  } cases[] = {
      {"deferred, item added", 1, true, true},
      {"deferred, nothing added", 1, false, false},
      {"immediate, item added", 0, true, false},
  };
  for (const Case &c : cases) {
    MyCMXType *instance = MakeQueried();
    ASSERT_NE(instance, nullptr);
    fake_feature::settings().examineSetsAllowInstall = c.allow;
    fake_feature::settings().examineAppendsItem = c.appends;
    DescList context, commands;
    EXPECT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr) << c.name;
    EXPECT_EQ(AppHandlers(), handlers_ + (c.installs ? 1 : 0)) << c.name;
    EXPECT_EQ(instance->eventHandlerRef != nullptr, c.installs) << c.name;
    MyCMXPostMenuCleanup(instance);
    EXPECT_EQ(AppHandlers(), handlers_) << c.name;
    EXPECT_EQ(MyCMXRelease(instance), 0u);
    fake_feature::Reset();
  }
}

TEST_F(Frame, NestedExamineContextCycle) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::settings().examineSetsAllowInstall = 1;
  fake_feature::settings().examineAppendsItem = true;
  fake_feature::settings().examineRegistersPopulateData = true;
  DescList context, outerList, innerList;

  gTicks = 100;
  VPTickCountSetSource(DrivenTicks);
  ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &outerList.desc), noErr);
  EXPECT_EQ(AppHandlers(), handlers_ + 1);
  gTicks = 200;
  ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &innerList.desc), noErr);
  EXPECT_EQ(AppHandlers(), handlers_ + 1) << "a nested ExamineContext installs nothing";
  EXPECT_EQ(instance->examineCount, 2u);
  ASSERT_EQ(fake_feature::registrations().size(), 2u);

  // Only submenus of the latest ExamineContext are recognised.
  Menu outerMenu({CFSTR("Dummy"), fake_feature::registrations()[0].identifier});
  Menu innerMenu({CFSTR("Dummy"), fake_feature::registrations()[1].identifier});
  EXPECT_EQ(SendPopulate(outerMenu.ref), noErr);
  EXPECT_EQ(outerMenu.Items().size(), 2u);
  EXPECT_EQ(SendPopulate(innerMenu.ref), noErr);
  EXPECT_EQ(innerMenu.Items(), std::vector<std::string>{"Dummy"});

  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(AppHandlers(), handlers_ + 1) << "the outer menu is still open";
  EXPECT_NE(instance->menuIdentifierBase, nullptr);
  auto cleanups = [] {
    long n = 0;
    for (Fn fn : fake_feature::CallSequence())
      n += fn == Fn::kPostMenuCleanupSelf;
    return n;
  };
  EXPECT_EQ(cleanups(), 0) << "the feature's cleanup waits for the outermost";

  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(AppHandlers(), handlers_);
  EXPECT_EQ(instance->eventHandlerRef, nullptr);
  EXPECT_EQ(instance->menuIdentifierBase, nullptr);
  EXPECT_EQ(cleanups(), 1);
  EXPECT_NE(instance->eventHandlerUPP, nullptr) << "the UPP lives until the record goes";

  // A cleanup too many: the count stays 0 and the cleanup runs again.
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(instance->examineCount, 0u);
  EXPECT_EQ(cleanups(), 2);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

TEST_F(Frame, ReleaseWhileTheMenuIsOpenRemovesTheHandler) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::settings().examineSetsAllowInstall = 1;
  fake_feature::settings().examineAppendsItem = true;
  fake_feature::settings().examineRegistersPopulateData = true;
  DescList context, commands;
  ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr);
  EXPECT_EQ(AppHandlers(), handlers_ + 1);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
  EXPECT_EQ(AppHandlers(), handlers_);
}

// ---- The menu-populate handler, through Event Manager dispatch ----

struct PopulateCase {
  const char *name;
  enum { kEmpty, kOrdinaryLastItem, kRegistered, kUnregistered } menu;
  OSStatus featureStatus;
  OSStatus dispatchResult;
  std::vector<std::string> itemsAfter;
  bool featureCalled;
};

// Rows print as their names in test listings.
void PrintTo(const PopulateCase &row, std::ostream *os) {
  *os << row.name;
}

class Populate : public Frame, public ::testing::WithParamInterface<PopulateCase> {};

TEST_P(Populate, Dispatch) {
  const PopulateCase &c = GetParam();
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::settings().examineSetsAllowInstall = 1;
  fake_feature::settings().examineAppendsItem = true;
  fake_feature::settings().examineRegistersPopulateData = true;
  fake_feature::settings().populateStatus = c.featureStatus;
  DescList context, commands;
  ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr);
  ASSERT_EQ(fake_feature::registrations().size(), 1u);
  const fake_feature::Registration &registered = fake_feature::registrations()[0];
  CFStringRef unregistered = MyCMXTypeCopyMyMenuIdentifier(instance);
  ASSERT_NE(unregistered, nullptr);

  std::vector<CFStringRef> items;
  if (c.menu != PopulateCase::kEmpty) items.push_back(CFSTR("Dummy"));
  if (c.menu == PopulateCase::kOrdinaryLastItem) items.push_back(CFSTR("Copy All Sizes"));
  if (c.menu == PopulateCase::kRegistered) items.push_back(registered.identifier);
  if (c.menu == PopulateCase::kUnregistered) items.push_back(unregistered);
  Menu menu(items);
  size_t callsBefore = fake_feature::calls().size();

  long beeps = VPSysBeepCount();
  StdoutCapture capture;
  EXPECT_EQ(SendPopulate(menu.ref), c.dispatchResult);
  EXPECT_EQ(capture.Take(), "") << "the handler never logs";
  EXPECT_EQ(VPSysBeepCount(), beeps) << "the handler never beeps";
  EXPECT_EQ(menu.Items(), c.itemsAfter);
  ASSERT_EQ(fake_feature::calls().size(), callsBefore + (c.featureCalled ? 1 : 0));
  if (c.featureCalled) {
    const fake_feature::Call &call = fake_feature::calls().back();
    EXPECT_EQ(call.fn, Fn::kHandleMenuPopulateSelf);
    EXPECT_EQ(call.menu, menu.ref);
    EXPECT_EQ(call.yourData, instance->yourData);
    EXPECT_EQ(call.populateData, c.menu == PopulateCase::kRegistered ? registered.data : nullptr);
    EXPECT_NE(call.callRef, nullptr);
    EXPECT_NE(call.event, nullptr);
    // A second populate finds no identifier item and changes nothing.
    EXPECT_EQ(SendPopulate(menu.ref), noErr);
    EXPECT_EQ(menu.Items(), c.itemsAfter);
    EXPECT_EQ(fake_feature::calls().size(), callsBefore + 1);
  }
  CFRelease(unregistered);
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Populate,
    ::testing::ValuesIn(std::vector<PopulateCase>{
        {"EmptyMenu", PopulateCase::kEmpty, noErr, noErr, {}, false},
        {"OrdinaryLastItem",
         PopulateCase::kOrdinaryLastItem,
         noErr,
         noErr,
         {"Dummy", "Copy All Sizes"},
         false},
        {"Registered", PopulateCase::kRegistered, noErr, noErr, {"Dummy"}, true},
        {"RegisteredFeatureFails",
         PopulateCase::kRegistered,
         memFullErr,
         eventNotHandledErr,
         {"Dummy"},
         true},
        {"NothingRegistered",
         PopulateCase::kUnregistered,
         paramErr,
         eventNotHandledErr,
         {"Dummy"},
         true},
    }),
    [](const ::testing::TestParamInfo<PopulateCase> &row) { return std::string(row.param.name); });

// Calls the dispatch never makes: the handler is reached through its UPP.
TEST_F(Frame, PopulateHandlerRefusesBadCalls) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  fake_feature::settings().examineSetsAllowInstall = 1;
  fake_feature::settings().examineAppendsItem = true;
  DescList context, commands;
  ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr);
  ASSERT_NE(instance->eventHandlerUPP, nullptr);

  auto makeEvent = [](UInt32 kind, bool withMenu, MenuRef menu) {
    EventRef event = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassMenu, kind, 0, 0, &event), noErr);
    if (withMenu)
      SetEventParameter(event, kEventParamDirectObject, typeMenuRef, sizeof menu, &menu);
    return event;
  };
  Menu menu({CFSTR("Dummy")});
  EventRef good = makeEvent(kEventMenuPopulate, true, menu.ref);
  EventRef otherKind = makeEvent(1, true, menu.ref);
  EventRef noMenu = makeEvent(kEventMenuPopulate, false, nullptr);
  EventRef nullMenu = makeEvent(kEventMenuPopulate, true, nullptr);
  auto callRef = reinterpret_cast<EventHandlerCallRef>(&context); // never looked into
  struct Case {
    const char *name;
    EventHandlerCallRef callRef;
    EventRef event;
    void *userData;
    OSStatus result;
  } cases[] = {
      {"well formed", callRef, good, instance, noErr},
      {"null call reference", nullptr, good, instance, eventNotHandledErr},
      {"null event", callRef, nullptr, instance, eventNotHandledErr},
      {"null user data", callRef, good, nullptr, eventNotHandledErr},
      {"another kind", callRef, otherKind, instance, eventNotHandledErr},
      {"no menu parameter", callRef, noMenu, instance, eventNotHandledErr},
      {"null menu", callRef, nullMenu, instance, noErr},
  };
  size_t calls = fake_feature::calls().size();
  for (const Case &c : cases) {
    EXPECT_EQ(InvokeEventHandlerUPP(c.callRef, c.event, c.userData, instance->eventHandlerUPP),
              c.result)
        << c.name;
  }
  EXPECT_EQ(fake_feature::calls().size(), calls);
  EXPECT_EQ(menu.Items(), std::vector<std::string>{"Dummy"});
  for (EventRef e : {good, otherKind, noMenu, nullMenu})
    ReleaseEvent(e);
  MyCMXPostMenuCleanup(instance);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- Menu identifiers ----

TEST_F(Frame, IdentifiersFollowTheTickCount) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  VPTickCountSetSource(DrivenTicks);
  DescList context, commands;
  struct Case {
    UInt32 ticks;
    std::string base;
  } cases[] = {
      {123456, "**123456-" VANTLOW_BUNDLE_IDENTIFIER "-123456"},
      {0, "**0-" VANTLOW_BUNDLE_IDENTIFIER "-0"},
      {0xFFFFFFFFu, "**4294967295-" VANTLOW_BUNDLE_IDENTIFIER "-4294967295"},
  };
  for (const Case &c : cases) {
    gTicks = c.ticks + 7; // not read: the base is made when first asked for
    // Every ExamineContext starts a fresh base numbered from 0.
    ASSERT_EQ(MyCMXExamineContext(instance, &context.desc, &commands.desc), noErr);
    gTicks = c.ticks;
    for (int n = 0; n < 3; ++n) {
      CFStringRef identifier = MyCMXTypeCopyMyMenuIdentifier(instance);
      EXPECT_EQ(Text(identifier), c.base + "-" + std::to_string(n) + "**");
      if (identifier) CFRelease(identifier);
      gTicks = c.ticks + 5; // one reading per base
    }
    EXPECT_EQ(Text(GetMyMenuIdentifierBase(instance)), c.base);
    MyCMXPostMenuCleanup(instance);
  }
  EXPECT_EQ(MyCMXTypeCopyMyMenuIdentifier(nullptr), nullptr);
  EXPECT_EQ(GetMyMenuIdentifierBase(nullptr), nullptr);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

TEST_F(Frame, NoIdentifierWithoutABase) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  gTicks = 42;
  VPTickCountSetSource(DrivenTicks);
  VPFaultArm(1, true);
  CFStringRef failed = MyCMXTypeCopyMyMenuIdentifier(instance);
  VPFaultDisarm();
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(instance->menuIdentifierBase, nullptr);
  // The next attempt makes the base, and no number was used up.
  CFStringRef identifier = MyCMXTypeCopyMyMenuIdentifier(instance);
  EXPECT_EQ(Text(identifier), "**42-" VANTLOW_BUNDLE_IDENTIFIER "-42-0**");
  if (identifier) CFRelease(identifier);
  if (failed) CFRelease(failed);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- Populate data and accessors ----

TEST_F(Frame, PopulateDataKeepsTheFirstValue) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  CFStringRef id = CFSTR("**1-x-1-0**");
  CFStringRef first = CFSTR("first"), second = CFSTR("second");
  EXPECT_EQ(MyCMXTypeGetMPEDataForIdentifier(instance, id), nullptr);
  EXPECT_NE(instance->mpeDataDictionary, nullptr) << "a lookup makes the dictionary";
  EXPECT_EQ(MyCMXTypeAddMPEDataForIdentifier(instance, id, first), noErr);
  EXPECT_EQ(MyCMXTypeAddMPEDataForIdentifier(instance, id, second), noErr);
  EXPECT_EQ(MyCMXTypeGetMPEDataForIdentifier(instance, id), first);
  EXPECT_EQ(MyCMXTypeGetMPEDataDictionary(instance), instance->mpeDataDictionary);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

TEST_F(Frame, NullArgumentsOfTheAccessors) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  CFStringRef id = CFSTR("id"), data = CFSTR("data");
  struct Case {
    const char *name;
    MyCMXType *instance;
    CFStringRef id;
    CFTypeRef data;
  } cases[] = {{"instance", nullptr, id, data},
               {"identifier", instance, nullptr, data},
               {"data", instance, id, nullptr}};
  for (const Case &c : cases)
    EXPECT_EQ(MyCMXTypeAddMPEDataForIdentifier(c.instance, c.id, c.data), paramErr) << c.name;
  EXPECT_EQ(MyCMXTypeGetMPEDataForIdentifier(nullptr, id), nullptr);
  EXPECT_EQ(MyCMXTypeGetMPEDataForIdentifier(instance, nullptr), nullptr);
  EXPECT_EQ(MyCMXTypeGetMPEDataDictionary(nullptr), nullptr);
  EXPECT_FALSE(MyCMXTypeAllowInstallHandler(nullptr));
  MyCMXTypeSetAllowInstallHandler(nullptr, true);
  MyCMXTypeSetAllowInstallHandler(instance, true);
  EXPECT_TRUE(MyCMXTypeAllowInstallHandler(instance));
  EXPECT_EQ(InstallMyEventHandler(nullptr, nullptr), paramErr);
  EXPECT_EQ(InstallMyEventHandler(instance, nullptr), paramErr);
  ClearMenuIdentifierBase(nullptr);
  DeallocMyCMXType(nullptr);
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// Storing populate data can run out of memory; that is never reported as
// success.
TEST_F(Frame, PopulateDataStoredOrReported) {
  MyCMXType *instance = MakeQueried();
  ASSERT_NE(instance, nullptr);
  ASSERT_NE(MyCMXTypeGetMPEDataDictionary(instance), nullptr);
  long failures = 0;
  for (long n = 1; n < 20; ++n) {
    CFStringRef id = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("id-%ld"), n);
    ASSERT_NE(id, nullptr);
    VPFaultArm(n, true); // allocations n, n+1, ... of the call fail
    OSStatus status = MyCMXTypeAddMPEDataForIdentifier(instance, id, CFSTR("data"));
    VPFaultDisarm();
    bool stored = MyCMXTypeGetMPEDataForIdentifier(instance, id) != nullptr;
    EXPECT_TRUE((status == noErr && stored) || (status == memFullErr && !stored)) << n;
    failures += status != noErr;
    CFRelease(id);
  }
  EXPECT_GT(failures, 0) << "the injector never reached the dictionary";
  EXPECT_EQ(MyCMXRelease(instance), 0u);
}

// ---- Allocation sweeps over the entry points ----

TEST_F(Frame, SweepFactoryAndQuery) {
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        void *made = MyCMMFactory(nullptr, kContextualMenuTypeID);
        if (!made) return;
        void *interface = nullptr;
        HRESULT result = MyCMXQueryInterface(made, BytesOf(kContextualMenuInterfaceID), &interface);
        EXPECT_TRUE(result == S_OK || result == E_NOINTERFACE) << n;
        EXPECT_EQ(interface != nullptr, result == S_OK) << n;
        EXPECT_EQ(MyCMXRelease(made), result == S_OK ? 1u : 0u) << n;
        if (interface) {
          EXPECT_EQ(MyCMXRelease(interface), 0u) << n;
        }
        fake_feature::Reset();
      },
      false);
}

TEST_F(Frame, SweepMenuCycle) {
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        fake_feature::settings().examineSetsAllowInstall = 1;
        fake_feature::settings().examineAppendsItem = true;
        fake_feature::settings().examineRegistersPopulateData = true;
        MyCMXType *instance = Make();
        if (!instance) return;
        AEDescList context, commands;
        AEInitializeDesc(&context);
        AEInitializeDesc(&commands);
        AECreateList(nullptr, 0, false, &commands);
        long beeps[2], beepsAfter[2];
        OSStatus status[2];
        bool installed = false;
        {
          StdoutCapture quiet; // the log lines; checks come after it
          beeps[0] = VPSysBeepCount();
          status[0] = MyCMXExamineContext(instance, &context, &commands);
          beepsAfter[0] = VPSysBeepCount();
          installed = instance->eventHandlerRef != nullptr;
          if (status[0] == noErr && !fake_feature::registrations().empty()) {
            MenuRef menu = nullptr;
            if (CreateNewMenu(1, 0, &menu) == noErr) {
              AppendMenuItemTextWithCFString(menu, fake_feature::registrations()[0].identifier, 0,
                                             0, nullptr);
              SendPopulate(menu);
              ReleaseMenu(menu);
            }
          }
          beeps[1] = VPSysBeepCount();
          status[1] = MyCMXHandleSelection(instance, &context, 2000);
          beepsAfter[1] = VPSysBeepCount();
          MyCMXPostMenuCleanup(instance);
        }
        for (int i = 0; i < 2; ++i) {
          bool reported = status[i] != noErr && status[i] != kMyNoBeepErr;
          EXPECT_EQ(beepsAfter[i] - beeps[i], reported ? 1 : 0) << "call " << i << ", " << n;
        }
        EXPECT_EQ(installed, status[0] == noErr) << n;
        EXPECT_EQ(instance->eventHandlerRef, nullptr) << n;
        EXPECT_EQ(MyCMXRelease(instance), 0u) << n;
        AEDisposeDesc(&commands);
        fake_feature::Reset();
      },
      false);
}

} // namespace
