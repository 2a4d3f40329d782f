#include "store/interp/srcctl.h"

#include <ostream>
#include <string>

#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/persist/idstr.h"

namespace tq {

SourceControl::SourceControl(const DeadSource& ds, const IdStringVector& ids, const BlockVector* blocks,
                             std::ostream& os)
    : ds_(ds), ids_(ids), blocks_(blocks), os_(os) {}

void SourceControl::indentLine(std::ostream& os, int level) {
    for (int i = 0; i < level; ++i) os.write("  ", 2);
}

void SourceControl::newLineTo(int64_t line) {
    if (!started_) {
        started_ = true;
        line_ = line;
        return;
    }
    if (line <= line_) {
        os_.write("\r\n", 2);
        ++line_;
        return;
    }
    const int64_t gap = line - line_;
    const int64_t n = gap <= lineEndBudget_ ? gap : 1;
    if (gap <= lineEndBudget_) lineEndBudget_ -= static_cast<uint32_t>(gap);
    for (int64_t i = 0; i < n; ++i) os_.write("\r\n", 2);
    line_ = line;
}

void SourceControl::advancePos(int32_t line) {
    if (started_ && line == line_) {
        if (sameLine_)
            sameLine_ = false;
        else
            os_.write(" : ", 3);
        return;
    }
    sameLine_ = false;
    printDS(line);
    newLineTo(line);
    indentLine(os_, level_);
}

void SourceControl::printDS(int64_t line) {
    DeadSourceRep* ds = ds_.get();
    if (!ds) return;
    while (ds->cursor() < ds->count() && int64_t(ds->line(ds->cursor())) < line) {
        const uint32_t i = ds->cursor();
        // The cursor moves first: a fragment is printed once even when
        // writing it fails.
        ds->setCursor(i + 1);
        printFragment(i);
    }
}

void SourceControl::printRemainingDS() {
    DeadSourceRep* ds = ds_.get();
    while (ds && ds->cursor() < ds->count()) {
        const uint32_t i = ds->cursor();
        ds->setCursor(i + 1);
        printFragment(i);
    }
}

void SourceControl::printFragment(uint32_t i) {
    const DeadSourceRep& ds = *ds_.get();
    const int64_t line = ds.line(i);
    const bool onCurrentLine = started_ && line == line_;
    switch (ds.kind(i)) {
        case DS_TEXT:
            if (onCurrentLine) {
                os_.write(" : ", 3);
            } else {
                newLineTo(line);
                indentLine(os_, level_);
            }
            break;
        case DS_REM:
            if (onCurrentLine) {
                os_.write(" : ", 3);
            } else {
                newLineTo(line);
                indentLine(os_, level_);
            }
            os_.write("Rem ", 4);
            break;
        default:
            if (onCurrentLine) {
                os_.put(' ');
            } else {
                newLineTo(line);
                indentLine(os_, level_);
            }
            os_.write("' ", 2);
            break;
    }
    os_ << ds.text(i);
}

void SourceControl::writeIdentifier(uint32_t index) {
    const char* name = index < ids_.count() ? static_cast<const char*>(ids_[index]) : nullptr;
    if (name)
        os_ << name;
    else
        os_ << '#' << index;
}

BlockRep* SourceControl::block(uint32_t index) const {
    BlockRep* b = blocks_ ? blocks_->block(index) : nullptr;
    if (!b) {
        const std::string text = "sub-block " + std::to_string(index) + " is missing from the code's block table";
        throw ObjectLoadFailed(text.c_str());
    }
    return b;
}

void SourceControl::printBlock(uint32_t index) {
    const BlockRep* b = block(index);
    for (const BlockRep* outer : printing_) {
        if (outer == b) {
            const std::string text = "sub-block " + std::to_string(index) + " contains itself";
            throw ObjectLoadFailed(text.c_str());
        }
    }
    if (printing_.size() >= kMaxBlockNesting) throw ObjectLoadFailed("sub-blocks nest too deep to print");
    printing_.push_back(b);
    b->print(*this);
    printing_.pop_back();
}

}  // namespace tq
