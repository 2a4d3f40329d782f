// Conversions between the two forms of a module: a text module (.tqs) and
// a binary module (.qbo). Both need an application object (for example a
// DefaultStoreApplication) alive, as every module load does; the modules a
// text module's objects are made from must be loaded first.
#pragma once

#include <string>

namespace tq::compiler {

// Compiles the text module at textPath and writes it as the binary module
// binaryPath. An existing binaryPath is replaced only once the new module
// has been written whole beside it, so a failure leaves it as it was; one
// marked read-only (FileMarkedReadOnly) is never replaced. Throws CompileError with every error of the text, StoreException when a
// file cannot be read or written; nothing is left loaded either way.
void ConvertTextToBinary(const std::string& textPath, const std::string& binaryPath);

// Writes the binary module at binaryPath as the text module textPath. A
// module that is loaded already is written as it stands in memory;
// otherwise it is loaded read-only for the conversion and unloaded after.
void ConvertBinaryToText(const std::string& binaryPath, const std::string& textPath);

}  // namespace tq::compiler
