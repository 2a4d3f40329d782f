#include "store/builtin/vsrpath.h"

#include <string>

#include "platform/util/pathpart.h"
#include "platform/util/pathsrch.h"
#include "store/persist/vlstrrep.h"

namespace tq {

namespace {

ValStringRep* Make(const std::string& text) {
    auto* rep = new ValStringRep(ConstructWithSize, kMaxPath);
    rep->assign(text);
    return rep;
}

std::string_view Name(const char* name) { return name ? std::string_view(name) : std::string_view(); }

}  // namespace

ValStringRep* VSRFullPathName(const char* name) { return Make(LimitedFullPath(Name(name))); }
ValStringRep* VSRShortPathName(const char* name) { return VSRFullPathName(name); }
ValStringRep* VSRPath(const char* name) { return Make(PathPart(Name(name))); }
ValStringRep* VSRName(const char* name) { return Make(NamePart(Name(name))); }
ValStringRep* VSRExtension(const char* name) { return Make(ExtensionPart(Name(name))); }

}  // namespace tq
