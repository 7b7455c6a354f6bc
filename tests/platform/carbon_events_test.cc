// The Carbon Event Manager: handler order and hand-on, targets and their
// parents, removal and installation during a dispatch, typed parameters and
// their sizes, and clean failure under allocation faults.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Log = std::vector<std::string>;

// A handler's user data: it logs its name and answers `result`, or runs
// `action` when one is given.
struct Probe {
  std::string name;
  Log *log = nullptr;
  OSStatus result = eventNotHandledErr;
  std::function<OSStatus(EventHandlerCallRef, EventRef)> action;
};

OSStatus ProbeHandler(EventHandlerCallRef call, EventRef event, void *userData) {
  Probe *probe = static_cast<Probe *>(userData);
  EXPECT_NE(call, nullptr);
  probe->log->push_back(probe->name);
  return probe->action ? probe->action(call, event) : probe->result;
}

struct EventReleaser {
  void operator()(OpaqueEventRef *e) const { ReleaseEvent(e); }
};
using Event = std::unique_ptr<OpaqueEventRef, EventReleaser>;

Event MakeEvent(UInt32 eventClass, UInt32 kind) {
  EventRef e = nullptr;
  EXPECT_EQ(CreateEvent(nullptr, eventClass, kind, 0, kEventAttributeNone, &e), noErr);
  return Event(e);
}

// Owns a UPP, the handlers a test installs and the window targets it makes,
// and checks that the Event Manager holds nothing afterwards.
class EventsTest : public ::testing::Test {
protected:
  void SetUp() override {
    blocks_ = VPLiveAllocationCount();
    app_ = GetApplicationEventTarget();
    ASSERT_NE(app_, nullptr);
    upp_ = NewEventHandlerUPP(ProbeHandler);
    ASSERT_NE(upp_, nullptr);
  }
  void TearDown() override {
    for (EventHandlerRef ref : installed_)
      RemoveEventHandler(ref);
    for (EventTargetRef t : targets_)
      VPEventTargetDispose(t);
    DisposeEventHandlerUPP(upp_);
    EXPECT_EQ(VPEventTargetCountHandlers(app_), 0u);
    EXPECT_EQ(VPLiveAllocationCount(), blocks_) << "the Event Manager leaked";
  }

  EventHandlerRef Install(EventTargetRef target, Probe *probe, UInt32 eventClass = kEventClassMenu,
                          UInt32 kind = kEventMenuPopulate) {
    EventTypeSpec eventType = {eventClass, kind};
    EventHandlerRef ref = nullptr;
    EXPECT_EQ(InstallEventHandler(target, upp_, 1, &eventType, probe, &ref), noErr);
    EXPECT_NE(ref, nullptr);
    installed_.push_back(ref);
    return ref;
  }
  Probe *NewProbe(const std::string &name, OSStatus result = eventNotHandledErr) {
    probes_.push_back(std::make_unique<Probe>());
    Probe *p = probes_.back().get();
    p->name = name;
    p->log = &log_;
    p->result = result;
    return p;
  }
  EventTargetRef NewTarget(EventTargetRef parent) {
    EventTargetRef t = VPEventTargetCreate(parent);
    EXPECT_NE(t, nullptr);
    targets_.push_back(t);
    return t;
  }
  OSStatus SendPopulate(EventTargetRef target) {
    Event e = MakeEvent(kEventClassMenu, kEventMenuPopulate);
    return SendEventToEventTarget(e.get(), target);
  }

  EventTargetRef app_ = nullptr;
  EventHandlerUPP upp_ = nullptr;
  Log log_;
  std::vector<EventHandlerRef> installed_;
  std::vector<EventTargetRef> targets_;
  std::vector<std::unique_ptr<Probe>> probes_;

private:
  long blocks_ = 0;
};

struct OrderCase {
  const char *name;
  std::vector<OSStatus> results; // oldest handler first
  Log calls;
  OSStatus result;
};

class DispatchOrderTest : public EventsTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(DispatchOrderTest, NewestFirstUntilOneAnswersOtherThanNotHandled) {
  const OrderCase &c = GetParam();
  for (size_t i = 0; i < c.results.size(); ++i)
    Install(app_, NewProbe("h" + std::to_string(i + 1), c.results[i]));
  EXPECT_EQ(SendPopulate(app_), c.result);
  EXPECT_EQ(log_, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchOrderTest,
    ::testing::ValuesIn(std::vector<OrderCase>{
        {"nobody", {}, {}, eventNotHandledErr},
        {"none_handles",
         {eventNotHandledErr, eventNotHandledErr, eventNotHandledErr},
         {"h3", "h2", "h1"},
         eventNotHandledErr},
        {"newest_handles", {eventNotHandledErr, eventNotHandledErr, noErr}, {"h3"}, noErr},
        {"older_handles", {eventNotHandledErr, noErr, eventNotHandledErr}, {"h3", "h2"}, noErr},
        {"error_stops_too", {noErr, paramErr, eventNotHandledErr}, {"h3", "h2"}, paramErr},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(EventsTest, OnlyHandlersListingTheEventsClassAndKindAreCalled) {
  Probe *both = NewProbe("both");
  EventTypeSpec eventTypes[] = {{kEventClassCommand, kEventCommandProcess},
                                {kEventClassMenu, kEventMenuPopulate}};
  EventHandlerRef ref = nullptr;
  ASSERT_EQ(InstallEventHandler(app_, upp_, 2, eventTypes, both, &ref), noErr);
  installed_.push_back(ref);
  Install(app_, NewProbe("keyboard"), kEventClassKeyboard, kEventRawKeyDown);

  Event other = MakeEvent(kEventClassMenu, 10); // same class, another kind
  EXPECT_EQ(SendEventToEventTarget(other.get(), app_), eventNotHandledErr);
  EXPECT_TRUE(log_.empty());
  Event command = MakeEvent(kEventClassCommand, kEventCommandProcess);
  EXPECT_EQ(SendEventToEventTarget(command.get(), app_), eventNotHandledErr);
  EXPECT_EQ(SendPopulate(app_), eventNotHandledErr);
  EXPECT_EQ(log_, (Log{"both", "both"}));
}

struct ParentCase {
  const char *name;
  OSStatus window;
  OSStatus application;
  Log calls;
  OSStatus result;
};

class ParentTargetTest : public EventsTest, public ::testing::WithParamInterface<ParentCase> {};

TEST_P(ParentTargetTest, AnEventTheWindowLeavesGoesOnToTheApplication) {
  const ParentCase &c = GetParam();
  EventTargetRef window = NewTarget(nullptr);
  Install(app_, NewProbe("app", c.application));
  Install(window, NewProbe("window", c.window));
  EXPECT_EQ(SendPopulate(window), c.result);
  EXPECT_EQ(log_, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParentTargetTest,
    ::testing::ValuesIn(std::vector<ParentCase>{
        {"window_handles", noErr, noErr, {"window"}, noErr},
        {"application_handles", eventNotHandledErr, noErr, {"window", "app"}, noErr},
        {"nobody_handles",
         eventNotHandledErr,
         eventNotHandledErr,
         {"window", "app"},
         eventNotHandledErr},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(EventsTest, DisposingATargetRemovesItsHandlersAndItsChildrenReachItsParent) {
  EventTargetRef window = VPEventTargetCreate(nullptr);
  ASSERT_NE(window, nullptr);
  EventTargetRef control = NewTarget(window);
  EventTypeSpec eventType = {kEventClassMenu, kEventMenuPopulate};
  EventHandlerRef windowHandler = nullptr;
  ASSERT_EQ(InstallEventHandler(window, upp_, 1, &eventType, NewProbe("window"), &windowHandler),
            noErr);
  Install(app_, NewProbe("app"));
  Install(control, NewProbe("control"));

  EXPECT_EQ(SendPopulate(control), eventNotHandledErr);
  EXPECT_EQ(log_, (Log{"control", "window", "app"}));

  VPEventTargetDispose(window);
  EXPECT_EQ(RemoveEventHandler(windowHandler), paramErr) << "gone with its target";
  EXPECT_EQ(SendEventToEventTarget(MakeEvent(kEventClassMenu, kEventMenuPopulate).get(), window),
            paramErr);
  log_.clear();
  EXPECT_EQ(SendPopulate(control), eventNotHandledErr);
  EXPECT_EQ(log_, (Log{"control", "app"}));
}

// A window's handler that closes the window (disposes its target) while it
// runs: the handler finishes safely and the event still reaches the
// application.
TEST_F(EventsTest, AHandlerMayDisposeItsOwnTargetWhileItRuns) {
  EventTargetRef window = VPEventTargetCreate(nullptr);
  ASSERT_NE(window, nullptr);
  Install(app_, NewProbe("app", noErr));
  Probe *closer = NewProbe("closer");
  closer->action = [&](EventHandlerCallRef, EventRef) {
    VPEventTargetDispose(window);
    return static_cast<OSStatus>(eventNotHandledErr);
  };
  EventTypeSpec eventType = {kEventClassMenu, kEventMenuPopulate};
  ASSERT_EQ(InstallEventHandler(window, upp_, 1, &eventType, NewProbe("older"), nullptr), noErr);
  ASSERT_EQ(InstallEventHandler(window, upp_, 1, &eventType, closer, nullptr), noErr);
  EXPECT_EQ(SendPopulate(window), noErr);
  EXPECT_EQ(log_, (Log{"closer", "app"})) << "the window's other handler went with it";
}

TEST_F(EventsTest, ARemovedHandlerIsNotCalledAndCannotBeRemovedTwice) {
  Install(app_, NewProbe("old"));
  EventHandlerRef newer = Install(app_, NewProbe("new", noErr));
  EXPECT_EQ(VPEventTargetCountHandlers(app_), 2u);
  EXPECT_EQ(RemoveEventHandler(newer), noErr);
  EXPECT_EQ(RemoveEventHandler(newer), paramErr);
  EXPECT_EQ(RemoveEventHandler(nullptr), paramErr);
  EXPECT_EQ(VPEventTargetCountHandlers(app_), 1u);
  EXPECT_EQ(SendPopulate(app_), eventNotHandledErr);
  EXPECT_EQ(log_, Log{"old"});
}

TEST_F(EventsTest, AHandlerMayRemoveItselfOrAnOlderOneWhileItRuns) {
  Probe *oldest = NewProbe("oldest");
  Probe *middle = NewProbe("middle");
  Probe *self = NewProbe("self");
  EventHandlerRef oldestRef = Install(app_, oldest);
  EventHandlerRef middleRef = Install(app_, middle);
  EventHandlerRef selfRef = Install(app_, self);
  // The newest removes itself and the middle one, then lets the event pass.
  self->action = [&](EventHandlerCallRef, EventRef) {
    EXPECT_EQ(RemoveEventHandler(selfRef), noErr);
    EXPECT_EQ(RemoveEventHandler(middleRef), noErr);
    return static_cast<OSStatus>(eventNotHandledErr);
  };
  EXPECT_EQ(SendPopulate(app_), eventNotHandledErr);
  EXPECT_EQ(log_, (Log{"self", "oldest"}));
  log_.clear();
  EXPECT_EQ(SendPopulate(app_), eventNotHandledErr);
  EXPECT_EQ(log_, Log{"oldest"});
  (void)oldestRef;
}

TEST_F(EventsTest, AHandlerInstalledDuringADispatchWaitsForTheNextEvent) {
  Probe *late = NewProbe("late", noErr);
  Probe *installer = NewProbe("installer");
  installer->action = [&](EventHandlerCallRef, EventRef) {
    if (log_.size() == 1) Install(app_, late);
    return static_cast<OSStatus>(eventNotHandledErr);
  };
  Install(app_, installer);
  EXPECT_EQ(SendPopulate(app_), eventNotHandledErr);
  EXPECT_EQ(log_, Log{"installer"});
  EXPECT_EQ(SendPopulate(app_), noErr);
  EXPECT_EQ(log_, (Log{"installer", "late"}));
}

TEST_F(EventsTest, CallNextEventHandlerRunsTheRestOnceAndTheCallersAnswerEndsTheDispatch) {
  Install(app_, NewProbe("app", noErr));
  EventTargetRef window = NewTarget(nullptr);
  Install(window, NewProbe("older"));
  Probe *newest = NewProbe("newest");
  EventHandlerCallRef kept = nullptr;
  OSStatus nextResult = 1;
  newest->action = [&](EventHandlerCallRef call, EventRef event) {
    kept = call;
    nextResult = CallNextEventHandler(call, event);
    return static_cast<OSStatus>(eventNotHandledErr); // handled below, so this is final
  };
  Install(window, newest);
  EXPECT_EQ(SendPopulate(window), eventNotHandledErr);
  EXPECT_EQ(nextResult, noErr);
  EXPECT_EQ(log_, (Log{"newest", "older", "app"}));
  Event e = MakeEvent(kEventClassMenu, kEventMenuPopulate);
  EXPECT_EQ(CallNextEventHandler(kept, e.get()), paramErr) << "the call is over";
}

struct ParamCase {
  const char *name;
  EventParamType desired;
  ByteCount bufferSize;
  OSStatus err;
  bool copied;
};

class EventParameterTest : public EventsTest, public ::testing::WithParamInterface<ParamCase> {};

TEST_P(EventParameterTest, TypeAndSizeAreCheckedAndNothingIsTruncated) {
  const ParamCase &c = GetParam();
  Event e = MakeEvent(kEventClassMenu, kEventMenuPopulate);
  MenuRef menu = reinterpret_cast<MenuRef>(static_cast<uintptr_t>(0x1122334455667788ull));
  ASSERT_EQ(SetEventParameter(e.get(), kEventParamDirectObject, typeMenuRef, sizeof menu, &menu),
            noErr);
  unsigned char buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  EventParamType actualType = 0;
  ByteCount actualSize = 0;
  EXPECT_EQ(GetEventParameter(e.get(), kEventParamDirectObject, c.desired, &actualType,
                              c.bufferSize, &actualSize, buffer),
            c.err);
  if (c.copied) {
    EXPECT_EQ(std::memcmp(buffer, &menu, sizeof menu), 0);
  } else {
    for (unsigned char b : buffer)
      EXPECT_EQ(b, 0xEE) << "the buffer stays untouched";
  }
  if (c.err != errAEWrongDataType) {
    EXPECT_EQ(actualType, static_cast<EventParamType>(typeMenuRef));
    EXPECT_EQ(actualSize, sizeof(MenuRef));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EventParameterTest,
                         ::testing::ValuesIn(std::vector<ParamCase>{
                             {"exact_size", typeMenuRef, sizeof(MenuRef), noErr, true},
                             {"larger_buffer", typeMenuRef, 16, noErr, true},
                             {"size_of_the_32_bit_platform", typeMenuRef, 4, paramErr, false},
                             {"wildcard", typeWildCard, sizeof(MenuRef), noErr, true},
                             {"other_type", typeHICommand, 16, errAEWrongDataType, false},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(EventsTest, ParametersAreReplacedByNameAndMissingOnesReported) {
  Event e = MakeEvent(kEventClassCommand, kEventCommandProcess);
  HICommand first = {0, kHICommandCancel, {nullptr, 0}};
  HICommand second = {0, kHICommandOK, {nullptr, 3}};
  ASSERT_EQ(
      SetEventParameter(e.get(), kEventParamDirectObject, typeHICommand, sizeof first, &first),
      noErr);
  ASSERT_EQ(
      SetEventParameter(e.get(), kEventParamDirectObject, typeHICommand, sizeof second, &second),
      noErr);
  HICommand got = {};
  EXPECT_EQ(GetEventParameter(e.get(), kEventParamDirectObject, typeHICommand, nullptr, sizeof got,
                              nullptr, &got),
            noErr);
  EXPECT_EQ(got.commandID, static_cast<UInt32>(kHICommandOK));
  EXPECT_EQ(got.menu.menuItemIndex, 3);
  ByteCount size = 0;
  EXPECT_EQ(
      GetEventParameter(e.get(), kEventParamDirectObject, typeWildCard, nullptr, 0, &size, nullptr),
      noErr)
      << "no buffer: only the size is asked";
  EXPECT_EQ(size, sizeof(HICommand));
  EXPECT_EQ(GetEventParameter(e.get(), kEventParamKeyCode, typeUInt32, nullptr, sizeof got, nullptr,
                              &got),
            eventParameterNotFoundErr);
  EXPECT_EQ(SetEventParameter(e.get(), kEventParamKeyCode, typeUInt32, 4, nullptr), paramErr);
  EXPECT_EQ(SetEventParameter(nullptr, kEventParamKeyCode, typeUInt32, 0, nullptr), paramErr);
}

// The plug-in frame's path: the host sends a populate event carrying the
// menu to the application target, and the handler edits that menu.
TEST_F(EventsTest, APopulateEventCarriesTheMenuToTheHandler) {
  MenuRef menu = nullptr;
  ASSERT_EQ(CreateNewMenu(1, 0, &menu), noErr);
  ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("Dummy"), 0, 2000, nullptr), noErr);
  ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("**id-0**"), 0, 0, nullptr), noErr);
  Probe *populate = NewProbe("populate");
  populate->action = [](EventHandlerCallRef, EventRef event) -> OSStatus {
    if (GetEventKind(event) != kEventMenuPopulate) return eventNotHandledErr;
    MenuRef got = nullptr;
    OSStatus err = GetEventParameter(event, kEventParamDirectObject, typeMenuRef, nullptr,
                                     sizeof got, nullptr, &got);
    if (err != noErr) return eventNotHandledErr;
    return DeleteMenuItem(got, CountMenuItems(got));
  };
  Install(app_, populate);

  Event e = MakeEvent(kEventClassMenu, kEventMenuPopulate);
  ASSERT_EQ(SetEventParameter(e.get(), kEventParamDirectObject, typeMenuRef, sizeof menu, &menu),
            noErr);
  EXPECT_EQ(SendEventToEventTarget(e.get(), app_), noErr);
  EXPECT_EQ(CountMenuItems(menu), 1);
  ReleaseMenu(menu);
}

TEST_F(EventsTest, EventsAreCountedReferencesThatKnowTheirClassAndKind) {
  EventRef e = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 12.5, 0, &e), noErr);
  EXPECT_EQ(GetEventClass(e), static_cast<UInt32>(kEventClassCommand));
  EXPECT_EQ(GetEventKind(e), static_cast<UInt32>(kEventCommandProcess));
  EXPECT_EQ(GetEventTime(e), 12.5);
  EXPECT_EQ(RetainEvent(e), e);
  EXPECT_EQ(GetEventRetainCount(e), 2u);
  ReleaseEvent(e);
  EXPECT_EQ(GetEventRetainCount(e), 1u);
  ReleaseEvent(e);
  EXPECT_EQ(GetEventClass(nullptr), 0u);
  ReleaseEvent(nullptr);

  EventRef none = reinterpret_cast<EventRef>(1);
  EXPECT_EQ(CreateEvent(nullptr, kEventClassMenu, 9, 0, 0, nullptr), paramErr);
  EXPECT_EQ(CreateEvent(reinterpret_cast<CFAllocatorRef>(8), kEventClassMenu, 9, 0, 0, &none),
            paramErr);
  EXPECT_EQ(none, nullptr);
}

TEST_F(EventsTest, InstallRefusesMissingArgumentsAndLeavesNoHandler) {
  EventTypeSpec eventType = {kEventClassMenu, kEventMenuPopulate};
  struct Case {
    const char *name;
    EventTargetRef target;
    EventHandlerUPP upp;
    ItemCount count;
    const EventTypeSpec *list;
  } cases[] = {{"no_target", nullptr, upp_, 1, &eventType},
               {"no_upp", app_, nullptr, 1, &eventType},
               {"no_list", app_, upp_, 1, nullptr}};
  for (const Case &c : cases) {
    EventHandlerRef ref = reinterpret_cast<EventHandlerRef>(1);
    EXPECT_EQ(InstallEventHandler(c.target, c.upp, c.count, c.list, nullptr, &ref), paramErr)
        << c.name;
    EXPECT_EQ(ref, nullptr) << c.name;
  }
  EXPECT_EQ(VPEventTargetCountHandlers(app_), 0u);
  EXPECT_EQ(NewEventHandlerUPP(nullptr), nullptr);
  EXPECT_EQ(SendEventToEventTarget(nullptr, app_), paramErr);
}

// What the plug-in frame and the modal dialog do, with every allocation
// failing in turn: each call fails with its documented result and nothing
// is left installed or allocated.
TEST(EventsSweep, InstallingAndSendingFailCleanlyAtEveryAllocation) {
  vantlow_test::SweepAllocationFailures(
      [](long) {
        Log log;
        Probe probe{"h", &log, noErr, {}};
        EventTargetRef app = GetApplicationEventTarget();
        EventHandlerUPP upp = NewEventHandlerUPP(ProbeHandler);
        EventTargetRef window = VPEventTargetCreate(app);
        EventHandlerRef ref = nullptr;
        EventRef event = nullptr;
        OSStatus err = app && upp && window ? noErr : memFullErr;
        EventTypeSpec eventType = {kEventClassCommand, kEventCommandProcess};
        if (err == noErr) {
          err = InstallEventHandler(app, upp, 1, &eventType, &probe, &ref);
          EXPECT_TRUE(err == noErr || err == memFullErr) << err;
          if (err != noErr) {
            EXPECT_EQ(ref, nullptr);
          }
        }
        if (err == noErr)
          err = CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event);
        HICommand command = {0, kHICommandOK, {nullptr, 0}};
        if (err == noErr)
          err = SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command,
                                  &command);
        if (err == noErr) {
          EXPECT_EQ(SendEventToEventTarget(event, window), noErr);
          EXPECT_EQ(log, Log{"h"});
        }
        EXPECT_TRUE(err == noErr || err == memFullErr) << err;
        ReleaseEvent(event);
        if (ref) {
          EXPECT_EQ(RemoveEventHandler(ref), noErr);
        }
        VPEventTargetDispose(window);
        DisposeEventHandlerUPP(upp);
        if (app) {
          EXPECT_EQ(VPEventTargetCountHandlers(app), 0u);
        }
      },
      false);
}

} // namespace
