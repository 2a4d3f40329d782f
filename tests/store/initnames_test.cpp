#include <gtest/gtest.h>

#include "store/persist/idstr.h"
#include "store/storeapp.h"
#include "store/tqstore.h"

namespace tq {
namespace {

TEST(TessaroInitializerNames, DetachedNamesLiveExactlyAsLongAsTheInitializer) {
    {
        TessaroInitializer init(0);
        {
            IdString name("StartedName", DETACHED_MODULE);
            EXPECT_STREQ(name, "StartedName");
        }
        EXPECT_NE(IdString::Find("StartedName", DETACHED_MODULE), ID_NOT_FOUND);
    }
    EXPECT_EQ(IdString::TableCount(DETACHED_MODULE), 0u);
    EXPECT_EQ(IdString::Find("StartedName", DETACHED_MODULE), ID_NOT_FOUND);
}

}  // namespace
}  // namespace tq
