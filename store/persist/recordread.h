// RecordRead: the span of reading one record of a module's table.
//
// A name's count includes the stored records that name it (idstr.h,
// invariant 2), and a record that fails to read stays in the file, naming
// what it named. So while a failure unwinds a record read, the references
// its partly built things hold give nothing back as those things go: a
// record read again and again (every walk, every program that follows a
// reference to it) would otherwise take its names' counts down to 0 and
// free names that it, and every record sharing them, still use, and the
// next save would write the module without them.
//
// Invariant: Failing() is true only between the throw that ends the
// innermost record read and the end of that read's scope.
#pragma once

#include <exception>

namespace tq {

class RecordRead {
public:
    RecordRead() : outer_(current_), exceptions_(std::uncaught_exceptions()) { current_ = this; }
    ~RecordRead() { current_ = outer_; }
    RecordRead(const RecordRead&) = delete;
    RecordRead& operator=(const RecordRead&) = delete;

    // Whether a failure is unwinding the innermost record read now.
    static bool Failing() { return current_ && std::uncaught_exceptions() > current_->exceptions_; }

private:
    static inline thread_local RecordRead* current_ = nullptr;
    RecordRead* outer_;
    int exceptions_;
};

}  // namespace tq
