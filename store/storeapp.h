// StoreApplication: everything the store needs from the program around it.
//
// The store never talks to a user interface. Wherever it needs the host (to
// report an exception, show a message box, pump messages, check for a user
// break, show a busy cursor, tell an editor of a rename, load a text module,
// make the store object of a module file) it calls a public static member of
// this class, which forwards to the virtual member of the same name, first
// letter lower case, on the one application object the host constructed.
//
// Invariants:
//  1. At most one application lives at a time; it registers itself in its
//     constructor ("!storeApplication") and leaves in its destructor
//     ("storeApplication == this").
//  2. Without an application every static member does nothing and returns
//     its neutral value (0, null or -1), and HandleException rethrows.
//  3. renamedObject is non-null only while an objectRenamed notification
//     runs, also when that notification throws.
//  4. Only the outermost BatchNotifies pair reaches the host.
//
// Everything runs on the host's user-interface thread; the singleton, the
// rename slot and the batch depth are plain globals.
#pragma once

#include <cstdint>

#include "platform/util/msgbox.h"

namespace tq {

class InterObj;
class InterObjRep;
class ObjectStore;
class OCLStorage;
class Printable;
class StoreException;

class StoreApplication {
public:
    // Both flags start on: exceptions go to the host, and the host may alter
    // its message loop.
    enum : uint8_t { kHandleExceptions = 0x1, kAlterMessageLoop = 0x2 };

    StoreApplication();
    virtual ~StoreApplication();
    StoreApplication(const StoreApplication&) = delete;
    StoreApplication& operator=(const StoreApplication&) = delete;

    // ---- the host's side, in the order of the virtual table ----------------

    // Non-zero: the exception is handled and the caller carries on; zero:
    // it is thrown on. Must not throw.
    virtual int handleException(StoreException& e);
    virtual void batchNotifyBegin();
    virtual void batchNotifyEnd();
    virtual void objectDeleted();
    // The object is RenamedObject() while this runs.
    virtual void objectRenamed();
    virtual void embedAdded(const InterObj& embed);
    virtual void embedDeleted(const InterObj& embed);
    virtual void embedRenamed(const InterObj& embed);
    virtual void fieldChanged();
    virtual void unloadingModule(unsigned char module);
    virtual void moduleUnloaded();
    virtual void moduleLoaded(unsigned char module);
    // Where Print without a target writes; null when nowhere.
    virtual Printable* getCurrentPrintable();
    virtual void appSplashMessage(const char* text);
    virtual void appEnableSplashMessage(int32_t on);
    virtual void appQuit() = 0;
    virtual void appDialog3dEffects(int16_t on);
    virtual void checkBusySignal();
    virtual void setBusyIndicator();
    virtual void signalBusy();
    virtual void signalNotBusy();
    virtual void enableAutoBusy(int32_t on);
    virtual int32_t autoBusyEnabled();
    virtual void setAutoBusyTimeout(int32_t timeout);
    virtual int32_t getAutoBusyTimeout();
    virtual void checkForBreak();
    // Shows a message box and returns the id of the button that closed it.
    // The default writes to standard error and answers the default button.
    virtual int messageBox(HWND owner, const char* text, const char* caption, unsigned style);
    // The store object of a module file being opened, built on storage,
    // which it then owns.
    virtual ObjectStore* makeStore(OCLStorage* storage) = 0;
    virtual int canLoadText();
    virtual void loadText(const char* path, InterObj& module);
    // A host whose canLoadText answers non-zero must override this.
    virtual void saveText(const char* path, unsigned char module);
    virtual const char* getTextResourceFile();
    virtual int32_t writeTextResource(void* data, int32_t a, int32_t b);
    virtual int32_t readTextResource(const char* name, int32_t& a, int32_t b);
    // One turn of the message loop: runs the timers that are due, never
    // waits (platform/util/msgloop.h); the number of timer calls. A host
    // whose own loop watches MessageLoop::Fd() may call this when it turns
    // readable, or override it to pump its own queue as well.
    virtual int pumpMessages();
    virtual void setIdleCallback(void (*callback)());
    virtual void setIdleCallbackHWND(uint32_t window);
    virtual void forgetIdleCallbackHWND(uint32_t window);
    virtual HWND superHWND();
    virtual void setActiveForm(InterObjRep* form);
    virtual InterObjRep* getActiveForm();
    virtual int getCurrentMessageLoopIndex();
    virtual void setMessageLoopGoto(int index);
    // The mouse as a timer's call-out sees it: whether a window of the
    // host holds the mouse captured (a drag in progress), and the cursor
    // shown meanwhile, saved before the Timeout and put back after it. A
    // host without a graphical interface has no mouse to capture: by
    // default nothing is captured, the cursor is 0 and setting it does
    // nothing, so the call-out leaves the busy signal alone.
    virtual int mouseCaptured();
    virtual uintptr_t getCursor();
    virtual void setCursor(uintptr_t cursor);

    // ---- the store's side ------------------------------------------------------

    // The live application, or null.
    static StoreApplication* Current() { return storeApplication; }
    uint8_t flags() const { return flags_; }

    // Offers e to the host when the handle-exceptions flag is on; returns
    // when the host handled it, else throws a plain StoreException copy.
    static void HandleException(StoreException& e);
    static void HandleExceptions(int on);
    static void ObjectDeleted();
    static void ObjectRenamed(InterObjRep* obj);
    static InterObjRep* RenamedObject() { return renamedObject; }
    static void EmbedAdded(const InterObj& embed);
    static void EmbedDeleted(const InterObj& embed);
    static void EmbedRenamed(const InterObj& embed);
    static void FieldChanged();
    // module 255 stands for no particular module; any other stops that
    // module's timers first (through timersUnloading, which the Timer class
    // fills when it is published).
    static void UnloadingModule(unsigned char module);
    static inline void (*timersUnloading)(unsigned char module) = nullptr;
    static void ModuleUnloaded();
    static void ModuleLoaded(unsigned char module);
    static Printable* GetCurrentPrintable();
    static void AppSplashMessage(const char* text);
    static void AppEnableSplashMessage(int32_t on);
    static void AppQuit();
    static void AppDialog3dEffects(int16_t on);
    static void CheckBusySignal();
    static void SetBusyIndicator();
    static void SignalBusy();
    static void SignalNotBusy();
    static void EnableAutoBusy(int32_t on);
    // 1 when the host's auto-busy is on, else 0.
    static int32_t AutoBusyEnabled();
    static void SetAutoBusyTimeout(int32_t timeout);
    static int32_t GetAutoBusyTimeout();
    // Inline: interpreted loops ask on every turn, and without a host there
    // is nothing to ask.
    static void CheckForBreak() {
        if (storeApplication) storeApplication->checkForBreak();
    }
    static int MessageBox(HWND owner, const char* text, const char* caption, unsigned style);
    static ObjectStore* MakeStore(OCLStorage* storage);
    static int CanLoadText();
    static void LoadText(const char* path, InterObj& module);
    static void SaveText(const char* path, unsigned char module);
    static const char* GetTextResourceFile();
    static int32_t WriteTextResource(void* data, int32_t a, int32_t b);
    static int32_t ReadTextResource(const char* name, int32_t& a, int32_t b);
    // The store keeps this flag for the host and never reads it itself.
    static void AlterMessageLoop(int on);
    static int PumpMessages();
    static void SetIdleCallback(void (*callback)());
    static void SetIdleCallbackHWND(uint32_t window);
    static void ForgetIdleCallbackHWND(uint32_t window);
    static HWND SuperHWND();
    static void SetActiveForm(InterObjRep* form);
    static InterObjRep* GetActiveForm();
    static int GetCurrentMessageLoopIndex();
    static void SetMessageLoopGoto(int index);
    // 0 without an application.
    static int MouseCaptured();
    static uintptr_t GetCursor();
    static void SetCursor(uintptr_t cursor);

    // Groups notifications: the host hears batchNotifyBegin when the
    // outermost batch opens and batchNotifyEnd when it closes.
    class BatchNotifies {
    public:
        BatchNotifies();
        ~BatchNotifies();
        BatchNotifies(const BatchNotifies&) = delete;
        BatchNotifies& operator=(const BatchNotifies&) = delete;
        static int Depth() { return notifyCount; }

    private:
        static int notifyCount;
    };

    // Turns auto-busy off for a scope and restores the previous setting.
    class SuspendAutoBusy {
    public:
        SuspendAutoBusy();
        ~SuspendAutoBusy();
        SuspendAutoBusy(const SuspendAutoBusy&) = delete;
        SuspendAutoBusy& operator=(const SuspendAutoBusy&) = delete;

    private:
        int32_t saved_;
    };

private:
    static StoreApplication* storeApplication;
    static InterObjRep* renamedObject;

    uint8_t flags_ = kHandleExceptions | kAlterMessageLoop;
};

// How a text module is read into a module and written back. The store has
// no compiler of its own: a compiler library linked into the program fills
// this in (tqcompile does it with tq::compiler::EnableTextModules()), and
// the default application then loads and saves text modules through it.
// Keeping the store ignorant of the compiler keeps the layering one way:
// the compiler builds on the store, never the reverse.
struct TextModuleHandler {
    // Compiles the text module at path into module (the module being
    // opened); throws a StoreException carrying every error.
    void (*load)(const char* path, unsigned char module);
    // Writes module as a text module to path.
    void (*save)(const char* path, unsigned char module);
};

// The minimal application TessaroInitializer makes on request: plain store
// objects, quitting left to the program, and Print writing to standard
// output (TextPrintable's layout) unless the host gives it another sink.
// It loads and saves text modules when a handler is registered.
class DefaultStoreApplication : public StoreApplication {
public:
    DefaultStoreApplication();
    ~DefaultStoreApplication() override;
    void appQuit() override;
    ObjectStore* makeStore(OCLStorage* storage) override;
    Printable* getCurrentPrintable() override;
    int canLoadText() override;
    void loadText(const char* path, InterObj& module) override;
    void saveText(const char* path, unsigned char module) override;

    // The handler every default application uses from now on (null: text
    // modules are not enabled). The handler must outlive its registration.
    static void SetTextModuleHandler(const TextModuleHandler* handler);
    static const TextModuleHandler* GetTextModuleHandler();

    // Print writes to sink from now on (the host keeps it alive while it is
    // set); null goes back to standard output.
    void setCurrentPrintable(Printable* sink) { sink_ = sink; }

private:
    Printable* sink_ = nullptr;
};

}  // namespace tq
