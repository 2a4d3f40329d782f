// The public API of the Tessaro compiler (tqcompile): source text of the
// language to syntax trees, with every error's file, line and column.
//
// One include gives it all: #include <tqcompile/tqcompile.h>
#pragma once

#include "compiler/ast.h"
#include "compiler/astdump.h"
#include "compiler/codegen.h"
#include "compiler/compileerror.h"
#include "compiler/convert.h"
#include "compiler/deadsrc.h"
#include "compiler/diag.h"
#include "compiler/keywords.h"
#include "compiler/lexer.h"
#include "compiler/parse.h"
#include "compiler/textmod.h"
