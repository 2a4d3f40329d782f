// SourceControl: the sink of a printing, which puts regenerated text back
// on the lines it was written on.
//
// Modules keep compiled code, not text: a procedure's text is printed from
// its blocks, walking the nodes and the dead source (deadsrc.h) together in
// line order. Every statement first moves to its own line (advancePos);
// the sink writes the line ends and indentation that get it there and, on
// the way, the dead-source fragments that lie before that line. So
// statements land on their own lines, statements written on one line are
// joined with " : ", and comments, declarations and the header reappear
// where they were.
//
// Moving to a line (advancePos):
//  1. to another line: the same-line flag is cleared, the fragments before
//     the line are printed, line ends are written up to it and then the
//     indentation of the current level (two spaces a step);
//  2. to the current line with the same-line flag set (just after " Then "
//     or " Else " of an If): the flag is cleared and nothing is written;
//  3. to the current line otherwise: " : ".
//
// A fragment prints as: a plain line, on its own line with the indentation
// and its text; a Rem comment, "Rem " and its text, after " : " when it
// shares the current line; a ' comment, "' " and its text, after " " when
// it shares the current line.
//
// What keeps a printing sound whatever the code holds:
//  1. Nothing is written before the first text: no leading line ends, no
//     " : " before the first statement.
//  2. The current line never goes back. A statement or fragment whose line
//     lies before it (code built by hand, or out of order) starts a new
//     line after the current one, so printing always ends.
//  3. A printing writes at most kMaxLineEnds line ends to reach far lines;
//     beyond that each move writes one, so a corrupt line number cannot make
//     the text unbounded.
//  4. A plain fragment on a line that already holds text follows " : ", so
//     the text still reads back as the statements it holds.
//  5. A sub-block that names itself, directly or through others (only a
//     corrupt file's code does), or sub-blocks nested deeper than
//     kMaxBlockNesting raise ObjectLoadFailed instead of printing for ever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "store/deadsrc.h"

namespace tq {

class BlockRep;
class BlockVector;
class IdStringVector;

class SourceControl {
public:
    static constexpr uint32_t kMaxLineEnds = 1u << 20;
    static constexpr size_t kMaxBlockNesting = 512;

    // ids names the identifiers by index; blocks (may be null for a lone
    // expression) holds the sub-blocks statements name by index.
    SourceControl(const DeadSource& ds, const IdStringVector& ids, const BlockVector* blocks, std::ostream& os);
    SourceControl(const SourceControl&) = delete;
    SourceControl& operator=(const SourceControl&) = delete;

    // Moves the output to line (see above).
    void advancePos(int32_t line);
    // Prints the dead-source fragments from the cursor that lie before line.
    void printDS(int64_t line);
    // Prints every fragment not printed yet.
    void printRemainingDS();
    // Writes level times two spaces.
    static void indentLine(std::ostream& os, int level);

    std::ostream& stream() { return os_; }
    int64_t currentLine() const { return line_; }
    int indentLevel() const { return level_; }
    void setIndentLevel(int level) { level_ = level; }
    void indent() { ++level_; }
    void outdent() { --level_; }
    // The next statement on the current line follows without a separator.
    void setSameLine() { sameLine_ = true; }

    // Writes the name of identifier index (a name beyond the table prints
    // as "#index", never as another's).
    void writeIdentifier(uint32_t index);
    // Sub-block index of the code being printed. A block the table does not
    // hold raises ObjectLoadFailed (only a corrupt file names one).
    BlockRep* block(uint32_t index) const;
    // Prints sub-block index (BlockRep::print); see 5 above.
    void printBlock(uint32_t index);

private:
    // Starts the line `line`, or the next one when line does not lie ahead.
    void newLineTo(int64_t line);
    void printFragment(uint32_t i);

    DeadSource ds_;
    const IdStringVector& ids_;
    const BlockVector* blocks_;
    std::ostream& os_;
    int64_t line_ = 0;
    int level_ = 0;
    bool sameLine_ = false;
    bool started_ = false;
    uint32_t lineEndBudget_ = kMaxLineEnds;
    // The sub-blocks being printed, outermost first.
    std::vector<const BlockRep*> printing_;
};

}  // namespace tq
