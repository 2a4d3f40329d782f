#include "sys/datetime.h"
#include "sys/console.h"
#include "sys/filesys.h"
#include "sys/system.h"
#include "sys/text.h"
#include "sys/textfile.h"
#include "sys/textlist.h"
#include "sys/tqsys.h"

namespace tq::sys {

// TextList first: the members of Text and FileSystem name it as their
// result's class.
void Populate() {
    TextList::Class().PO_InitObject();
    Console::Class().PO_InitObject();
    TextFile::Class().PO_InitObject();
    FileSystem::Class().PO_InitObject();
    DateTime::Class().PO_InitObject();
    Stopwatch::Class().PO_InitObject();
    System::Class().PO_InitObject();
    Text::Class().PO_InitObject();
}

}  // namespace tq::sys
