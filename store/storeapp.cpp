#include "store/storeapp.h"

#include "platform/util/msgloop.h"
#include "platform/util/uassert.h"
#include "store/errors/storeexc.h"
#include "store/persist/objstore.h"
#include "store/printable.h"

namespace tq {

StoreApplication* StoreApplication::storeApplication = nullptr;
InterObjRep* StoreApplication::renamedObject = nullptr;
int StoreApplication::BatchNotifies::notifyCount = 0;

StoreApplication::StoreApplication() {
    TQ_ASSERT(!storeApplication, "!storeApplication");
    storeApplication = this;
}

StoreApplication::~StoreApplication() {
    TQ_ASSERT(storeApplication == this, "storeApplication == this");
    storeApplication = nullptr;
}

// ---- defaults of the host's side ---------------------------------------------

int StoreApplication::handleException(StoreException&) { return 1; }
void StoreApplication::batchNotifyBegin() {}
void StoreApplication::batchNotifyEnd() {}
void StoreApplication::objectDeleted() {}
void StoreApplication::objectRenamed() {}
void StoreApplication::embedAdded(const InterObj&) {}
void StoreApplication::embedDeleted(const InterObj&) {}
void StoreApplication::embedRenamed(const InterObj&) {}
void StoreApplication::fieldChanged() {}
void StoreApplication::unloadingModule(unsigned char) {}
void StoreApplication::moduleUnloaded() {}
void StoreApplication::moduleLoaded(unsigned char) {}
Printable* StoreApplication::getCurrentPrintable() { return nullptr; }
void StoreApplication::appSplashMessage(const char*) {}
void StoreApplication::appEnableSplashMessage(int32_t) {}
void StoreApplication::appDialog3dEffects(int16_t) {}
void StoreApplication::checkBusySignal() {}
void StoreApplication::setBusyIndicator() {}
void StoreApplication::signalBusy() {}
void StoreApplication::signalNotBusy() {}
void StoreApplication::enableAutoBusy(int32_t) {}
int32_t StoreApplication::autoBusyEnabled() { return 0; }
void StoreApplication::setAutoBusyTimeout(int32_t) {}
int32_t StoreApplication::getAutoBusyTimeout() { return -1; }
void StoreApplication::checkForBreak() {}

int StoreApplication::messageBox(HWND owner, const char* text, const char* caption,
                                 unsigned style) {
    return ShowMessageBox(owner, text, caption, style);
}

int StoreApplication::canLoadText() { return 0; }
void StoreApplication::loadText(const char*, InterObj&) {}

void StoreApplication::saveText(const char*, unsigned char) {
    utilsAssert("StoreApplication::saveText improperly implemented", __FILE__, __LINE__);
}

const char* StoreApplication::getTextResourceFile() { return nullptr; }
int32_t StoreApplication::writeTextResource(void*, int32_t, int32_t) { return 0; }
int32_t StoreApplication::readTextResource(const char*, int32_t&, int32_t) { return 0; }
int StoreApplication::pumpMessages() { return MessageLoop::Dispatch(); }
void StoreApplication::setIdleCallback(void (*)()) {}
void StoreApplication::setIdleCallbackHWND(uint32_t) {}
void StoreApplication::forgetIdleCallbackHWND(uint32_t) {}
HWND StoreApplication::superHWND() { return nullptr; }
void StoreApplication::setActiveForm(InterObjRep*) {}
InterObjRep* StoreApplication::getActiveForm() { return nullptr; }
int StoreApplication::getCurrentMessageLoopIndex() { return -1; }
void StoreApplication::setMessageLoopGoto(int) {}
int StoreApplication::mouseCaptured() { return 0; }
uintptr_t StoreApplication::getCursor() { return 0; }
void StoreApplication::setCursor(uintptr_t) {}

// ---- the store's side ------------------------------------------------------

void StoreApplication::HandleException(StoreException& e) {
    StoreApplication* app = storeApplication;
    if (app && (app->flags_ & kHandleExceptions) && app->handleException(e)) return;
    // Thrown on as the base class: handlers past this point see a plain
    // StoreException with the original's text, name and line.
    throw StoreException(e);
}

void StoreApplication::HandleExceptions(int on) {
    if (!storeApplication) return;
    if (on)
        storeApplication->flags_ |= kHandleExceptions;
    else
        storeApplication->flags_ &= static_cast<uint8_t>(~kHandleExceptions);
}

void StoreApplication::AlterMessageLoop(int on) {
    if (!storeApplication) return;
    if (on)
        storeApplication->flags_ |= kAlterMessageLoop;
    else
        storeApplication->flags_ &= static_cast<uint8_t>(~kAlterMessageLoop);
}

void StoreApplication::ObjectDeleted() {
    if (storeApplication) storeApplication->objectDeleted();
}

void StoreApplication::ObjectRenamed(InterObjRep* obj) {
    // The slot must be empty again however the host's handler ends, or a
    // later notification would report a stale (possibly freed) object.
    struct ClearOnExit {
        ~ClearOnExit() { renamedObject = nullptr; }
    } clear;
    renamedObject = obj;
    if (storeApplication) storeApplication->objectRenamed();
}

void StoreApplication::EmbedAdded(const InterObj& embed) {
    if (storeApplication) storeApplication->embedAdded(embed);
}
void StoreApplication::EmbedDeleted(const InterObj& embed) {
    if (storeApplication) storeApplication->embedDeleted(embed);
}
void StoreApplication::EmbedRenamed(const InterObj& embed) {
    if (storeApplication) storeApplication->embedRenamed(embed);
}
void StoreApplication::FieldChanged() {
    if (storeApplication) storeApplication->fieldChanged();
}

void StoreApplication::UnloadingModule(unsigned char module) {
    if (module != NO_MODULE && timersUnloading) timersUnloading(module);
    if (storeApplication) storeApplication->unloadingModule(module);
}

void StoreApplication::ModuleUnloaded() {
    if (storeApplication) storeApplication->moduleUnloaded();
}
void StoreApplication::ModuleLoaded(unsigned char module) {
    if (storeApplication) storeApplication->moduleLoaded(module);
}
Printable* StoreApplication::GetCurrentPrintable() {
    return storeApplication ? storeApplication->getCurrentPrintable() : nullptr;
}
void StoreApplication::AppSplashMessage(const char* text) {
    if (storeApplication) storeApplication->appSplashMessage(text);
}
void StoreApplication::AppEnableSplashMessage(int32_t on) {
    if (storeApplication) storeApplication->appEnableSplashMessage(on);
}
void StoreApplication::AppQuit() {
    if (storeApplication) storeApplication->appQuit();
}
void StoreApplication::AppDialog3dEffects(int16_t on) {
    if (storeApplication) storeApplication->appDialog3dEffects(on);
}
void StoreApplication::CheckBusySignal() {
    if (storeApplication) storeApplication->checkBusySignal();
}
void StoreApplication::SetBusyIndicator() {
    if (storeApplication) storeApplication->setBusyIndicator();
}
void StoreApplication::SignalBusy() {
    if (storeApplication) storeApplication->signalBusy();
}
void StoreApplication::SignalNotBusy() {
    if (storeApplication) storeApplication->signalNotBusy();
}
void StoreApplication::EnableAutoBusy(int32_t on) {
    if (storeApplication) storeApplication->enableAutoBusy(on);
}
int32_t StoreApplication::AutoBusyEnabled() {
    return storeApplication && storeApplication->autoBusyEnabled() ? 1 : 0;
}
void StoreApplication::SetAutoBusyTimeout(int32_t timeout) {
    if (storeApplication) storeApplication->setAutoBusyTimeout(timeout);
}
int32_t StoreApplication::GetAutoBusyTimeout() {
    return storeApplication ? storeApplication->getAutoBusyTimeout() : -1;
}
int StoreApplication::MessageBox(HWND owner, const char* text, const char* caption,
                                 unsigned style) {
    return storeApplication ? storeApplication->messageBox(owner, text, caption, style) : 0;
}
ObjectStore* StoreApplication::MakeStore(OCLStorage* storage) {
    return storeApplication ? storeApplication->makeStore(storage) : nullptr;
}
int StoreApplication::CanLoadText() {
    return storeApplication ? storeApplication->canLoadText() : 0;
}
void StoreApplication::LoadText(const char* path, InterObj& module) {
    if (storeApplication) storeApplication->loadText(path, module);
}
void StoreApplication::SaveText(const char* path, unsigned char module) {
    if (storeApplication) storeApplication->saveText(path, module);
}
const char* StoreApplication::GetTextResourceFile() {
    return storeApplication ? storeApplication->getTextResourceFile() : nullptr;
}
int32_t StoreApplication::WriteTextResource(void* data, int32_t a, int32_t b) {
    return storeApplication ? storeApplication->writeTextResource(data, a, b) : 0;
}
int32_t StoreApplication::ReadTextResource(const char* name, int32_t& a, int32_t b) {
    return storeApplication ? storeApplication->readTextResource(name, a, b) : 0;
}
int StoreApplication::PumpMessages() {
    return storeApplication ? storeApplication->pumpMessages() : 0;
}
void StoreApplication::SetIdleCallback(void (*callback)()) {
    if (storeApplication) storeApplication->setIdleCallback(callback);
}
void StoreApplication::SetIdleCallbackHWND(uint32_t window) {
    if (storeApplication) storeApplication->setIdleCallbackHWND(window);
}
void StoreApplication::ForgetIdleCallbackHWND(uint32_t window) {
    if (storeApplication) storeApplication->forgetIdleCallbackHWND(window);
}
HWND StoreApplication::SuperHWND() {
    return storeApplication ? storeApplication->superHWND() : nullptr;
}
void StoreApplication::SetActiveForm(InterObjRep* form) {
    if (storeApplication) storeApplication->setActiveForm(form);
}
InterObjRep* StoreApplication::GetActiveForm() {
    return storeApplication ? storeApplication->getActiveForm() : nullptr;
}
int StoreApplication::GetCurrentMessageLoopIndex() {
    return storeApplication ? storeApplication->getCurrentMessageLoopIndex() : -1;
}
void StoreApplication::SetMessageLoopGoto(int index) {
    if (storeApplication) storeApplication->setMessageLoopGoto(index);
}
int StoreApplication::MouseCaptured() { return storeApplication ? storeApplication->mouseCaptured() : 0; }
uintptr_t StoreApplication::GetCursor() { return storeApplication ? storeApplication->getCursor() : 0; }
void StoreApplication::SetCursor(uintptr_t cursor) {
    if (storeApplication) storeApplication->setCursor(cursor);
}

// ---- guards ----------------------------------------------------------------

StoreApplication::BatchNotifies::BatchNotifies() {
    if (++notifyCount == 1 && storeApplication) storeApplication->batchNotifyBegin();
}

StoreApplication::BatchNotifies::~BatchNotifies() {
    if (--notifyCount == 0 && storeApplication) storeApplication->batchNotifyEnd();
}

StoreApplication::SuspendAutoBusy::SuspendAutoBusy() : saved_(AutoBusyEnabled()) {
    EnableAutoBusy(0);
}

StoreApplication::SuspendAutoBusy::~SuspendAutoBusy() { EnableAutoBusy(saved_); }

// ---- the default application ---------------------------------------------------

namespace {

// A plain store whose only difference is that it belongs to this library's
// default application.
class DefaultObjectStore : public ObjectStore {
public:
    explicit DefaultObjectStore(OCLStorage* storage) : ObjectStore(storage) {}
    ~DefaultObjectStore() override = default;
};

}  // namespace

DefaultStoreApplication::DefaultStoreApplication() = default;
DefaultStoreApplication::~DefaultStoreApplication() = default;

void DefaultStoreApplication::appQuit() {}

ObjectStore* DefaultStoreApplication::makeStore(OCLStorage* storage) {
    return new DefaultObjectStore(storage);
}

namespace {
// Constant-initialised, so a registration made while another library's
// statics are set up finds it ready.
const TextModuleHandler* textModuleHandler = nullptr;
}  // namespace

void DefaultStoreApplication::SetTextModuleHandler(const TextModuleHandler* handler) {
    textModuleHandler = handler;
}

const TextModuleHandler* DefaultStoreApplication::GetTextModuleHandler() { return textModuleHandler; }

int DefaultStoreApplication::canLoadText() {
    return textModuleHandler && textModuleHandler->load && textModuleHandler->save ? 1 : 0;
}

void DefaultStoreApplication::loadText(const char* path, InterObj&) {
    if (!canLoadText()) throw StoreException("Text load is not enabled.");
    // The store has made the new module current before it asks.
    textModuleHandler->load(path, ObjectStore::OpenModule());
}

void DefaultStoreApplication::saveText(const char* path, unsigned char module) {
    if (!canLoadText()) {
        StoreApplication::saveText(path, module);
        return;
    }
    textModuleHandler->save(path, module);
}

Printable* DefaultStoreApplication::getCurrentPrintable() {
    // One sink for the process: its column is where the output stands,
    // whichever application object writes next.
    static StdoutPrintable standardOutput;
    return sink_ ? sink_ : &standardOutput;
}

}  // namespace tq
