#include "platform/com/ocl.h"

#include "platform/util/uassert.h"

namespace tq {
namespace {

int startCount = 0;

}  // namespace

OCL::OCL() { ++startCount; }

OCL::~OCL() {
    TQ_ASSERT(startCount > 0, "startCount > 0");
    --startCount;
}

bool OCL::Started() { return startCount > 0; }
int OCL::StartCount() { return startCount; }

}  // namespace tq
