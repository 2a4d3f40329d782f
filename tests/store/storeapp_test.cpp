// The host-callback object: forwarding, neutral values, guards, exceptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "store/errors/extexcep.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "tests/support/asserts.h"

namespace tq {
namespace {

class RecordingApp : public StoreApplication {
public:
    std::vector<std::string> calls;
    std::vector<int32_t> autoBusyCalls;
    int handleResult = 1;
    int32_t autoBusy = 0;
    bool throwOnRename = false;
    InterObjRep* renamedSeen = nullptr;

    int handleException(StoreException&) override {
        calls.push_back("handleException");
        return handleResult;
    }
    void batchNotifyBegin() override { calls.push_back("batchNotifyBegin"); }
    void batchNotifyEnd() override { calls.push_back("batchNotifyEnd"); }
    void objectRenamed() override {
        renamedSeen = RenamedObject();
        if (throwOnRename) throw StoreException("rename refused", nullptr);
    }
    void unloadingModule(unsigned char m) override { calls.push_back("unloading " + std::to_string(m)); }
    void enableAutoBusy(int32_t on) override {
        autoBusyCalls.push_back(on);
        autoBusy = on;
    }
    int32_t autoBusyEnabled() override { return autoBusy; }
    int32_t getAutoBusyTimeout() override { return 250; }
    int messageBox(HWND, const char* text, const char* caption, unsigned style) override {
        calls.push_back(std::string(caption) + "|" + text + "|" + std::to_string(style));
        return IDRETRY;
    }
    int32_t readTextResource(const char*, int32_t& a, int32_t b) override {
        a = b * 2;
        return 1;
    }
    void appQuit() override { calls.push_back("appQuit"); }
    ObjectStore* makeStore(OCLStorage*) override { return nullptr; }
};

InterObjRep* FakeObject() {
    static int anything;
    return reinterpret_cast<InterObjRep*>(&anything);
}

TEST(StoreApplicationTest, WithoutAnApplicationEveryMemberIsNeutral) {
    ASSERT_EQ(StoreApplication::Current(), nullptr);
    EXPECT_EQ(StoreApplication::GetAutoBusyTimeout(), -1);
    EXPECT_EQ(StoreApplication::GetCurrentMessageLoopIndex(), -1);
    EXPECT_EQ(StoreApplication::MessageBox(nullptr, "t", "c", MB_OK), 0);
    EXPECT_EQ(StoreApplication::MakeStore(nullptr), nullptr);
    EXPECT_EQ(StoreApplication::AutoBusyEnabled(), 0);
    EXPECT_EQ(StoreApplication::CanLoadText(), 0);
    EXPECT_EQ(StoreApplication::PumpMessages(), 0);
    EXPECT_EQ(StoreApplication::GetCurrentPrintable(), nullptr);
    EXPECT_EQ(StoreApplication::GetActiveForm(), nullptr);
    EXPECT_EQ(StoreApplication::SuperHWND(), nullptr);
    int32_t a = 5;
    EXPECT_EQ(StoreApplication::ReadTextResource("r", a, 1), 0);
    EXPECT_EQ(a, 5);
    StoreApplication::AppQuit();
    StoreApplication::HandleExceptions(1);
    StoreApplication::UnloadingModule(3);
    { StoreApplication::BatchNotifies batch; }
    { StoreApplication::SuspendAutoBusy suspend; }

    // Exceptions always propagate, as a plain StoreException.
    NotFound e(32741, "Form1");
    try {
        StoreApplication::HandleException(e);
        FAIL() << "handled without an application";
    } catch (const NotFound&) {
        FAIL() << "rethrown as the subclass";
    } catch (const StoreException& thrown) {
        EXPECT_STREQ(thrown.what(), "Object 'Form1' was not found");
    }
}

TEST(StoreApplicationTest, OnlyOneApplicationLivesAtATime) {
    ScopedThrowingAsserts asserts;
    {
        RecordingApp first;
        EXPECT_EQ(StoreApplication::Current(), &first);
        try {
            RecordingApp second;
            FAIL() << "second application accepted";
        } catch (const AssertionFailed& failure) {
            EXPECT_EQ(failure.text, "!storeApplication");
            EXPECT_EQ(failure.source, "storeapp");
        }
        EXPECT_EQ(StoreApplication::Current(), &first);
    }
    EXPECT_EQ(StoreApplication::Current(), nullptr);
}

TEST(StoreApplicationTest, StaticsForwardArgumentsAndResults) {
    RecordingApp app;
    EXPECT_EQ(StoreApplication::MessageBox(nullptr, "Save?", "Tessaro", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(StoreApplication::GetAutoBusyTimeout(), 250);
    int32_t a = 0;
    EXPECT_EQ(StoreApplication::ReadTextResource("r", a, 21), 1);
    EXPECT_EQ(a, 42);
    app.autoBusy = 5;
    EXPECT_EQ(StoreApplication::AutoBusyEnabled(), 1);
    // Module 255 is no module in particular, and still reaches the host.
    StoreApplication::UnloadingModule(255);
    StoreApplication::UnloadingModule(4);
    StoreApplication::AppQuit();
    EXPECT_EQ(app.calls, (std::vector<std::string>{"Tessaro|Save?|5", "unloading 255", "unloading 4",
                                                   "appQuit"}));
    // Base defaults of the slots the host left alone.
    EXPECT_EQ(StoreApplication::GetCurrentMessageLoopIndex(), -1);
    EXPECT_EQ(StoreApplication::PumpMessages(), 0);
}

TEST(StoreApplicationTest, HandleExceptionFollowsTheFlagAndTheHostsAnswer) {
    RecordingApp app;
    EXPECT_EQ(app.flags(), 3);
    NotFound e(32741, "Form1");
    e.line = 17;
    EXPECT_NO_THROW(StoreApplication::HandleException(e));

    app.handleResult = 0;
    EXPECT_THROW(StoreApplication::HandleException(e), StoreException);

    // Switched off, the host is not asked even though it would handle it.
    app.handleResult = 1;
    app.calls.clear();
    StoreApplication::HandleExceptions(0);
    EXPECT_EQ(app.flags(), 2);
    try {
        StoreApplication::HandleException(e);
        FAIL() << "handled with the flag off";
    } catch (const NotFound&) {
        FAIL() << "rethrown as the subclass";
    } catch (const StoreException& thrown) {
        EXPECT_STREQ(thrown.what(), "Object 'Form1' was not found");
        EXPECT_STREQ(thrown.name(), "Exception");
        EXPECT_EQ(thrown.line, 17);
    }
    EXPECT_TRUE(app.calls.empty());
    StoreApplication::HandleExceptions(1);
    EXPECT_NO_THROW(StoreApplication::HandleException(e));

    StoreApplication::AlterMessageLoop(0);
    EXPECT_EQ(app.flags(), 1);
}

TEST(StoreApplicationTest, NestedBatchesReachTheHostOnce) {
    RecordingApp app;
    {
        StoreApplication::BatchNotifies outer;
        {
            StoreApplication::BatchNotifies inner;
            EXPECT_EQ(StoreApplication::BatchNotifies::Depth(), 2);
        }
        EXPECT_EQ(app.calls, std::vector<std::string>{"batchNotifyBegin"});
    }
    EXPECT_EQ(app.calls, (std::vector<std::string>{"batchNotifyBegin", "batchNotifyEnd"}));
    EXPECT_EQ(StoreApplication::BatchNotifies::Depth(), 0);
}

TEST(StoreApplicationTest, SuspendAutoBusyRestoresTheSettingEvenWhenItWasOff) {
    RecordingApp app;
    app.autoBusy = -1;
    { StoreApplication::SuspendAutoBusy suspend; }
    EXPECT_EQ(app.autoBusyCalls, (std::vector<int32_t>{0, 1}));
    app.autoBusyCalls.clear();
    app.autoBusy = 0;
    { StoreApplication::SuspendAutoBusy suspend; }
    EXPECT_EQ(app.autoBusyCalls, (std::vector<int32_t>{0, 0}));
}

TEST(StoreApplicationTest, RenamedObjectIsSetOnlyDuringTheNotification) {
    RecordingApp app;
    StoreApplication::ObjectRenamed(FakeObject());
    EXPECT_EQ(app.renamedSeen, FakeObject());
    EXPECT_EQ(StoreApplication::RenamedObject(), nullptr);

    app.throwOnRename = true;
    app.renamedSeen = nullptr;
    EXPECT_THROW(StoreApplication::ObjectRenamed(FakeObject()), StoreException);
    EXPECT_EQ(app.renamedSeen, FakeObject());
    EXPECT_EQ(StoreApplication::RenamedObject(), nullptr);
}

TEST(StoreApplicationTest, DefaultSaveTextReportsAnImproperHost) {
    ScopedThrowingAsserts asserts;
    RecordingApp app;
    EXPECT_ASSERTION(StoreApplication::SaveText("/tmp/m.txt", 0),
                     "StoreApplication::saveText improperly implemented");
}

TEST(DefaultStoreApplicationTest, MakesPlainStoresAndAnswersBoxesOnStandardError) {
    DefaultStoreApplication app;
    const int modules = ObjectStore::ModuleCount();
    ObjectStore* store = StoreApplication::MakeStore(new OCLStorage());
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(ObjectStore::ValidIndex(store->moduleIndex()));
    EXPECT_FALSE(store->isDirtyHook(store->moduleIndex()));
    EXPECT_TRUE(store->storage().isTemporary());
    delete store;
    EXPECT_EQ(ObjectStore::ModuleCount(), modules);
    StoreApplication::AppQuit();

    testing::internal::CaptureStderr();
    EXPECT_EQ(StoreApplication::MessageBox(nullptr, "Discard?", "Tessaro", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tessaro: Discard?\n");
}

}  // namespace
}  // namespace tq
