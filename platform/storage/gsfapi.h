// GsfApi: the functions of libgsf, GObject and GLib that the storage layer
// calls, found with dlopen/dlsym the first time it is needed: to lay out a
// whole compound file (creating one, a whole commit) or to copy a
// sub-storage whole. Opening, reading and a commit in place are the storage
// layer's own (cfbreader.h, inplace.h) and never load it.
//
// Why not link libgsf: it pulls in about twenty libraries (gio, gobject, glib,
// libxml2, ICU, ...), and mapping and relocating them took most of a
// process's start-up. A program that runs a text module, or that only reads
// module files, never maps them.
//
// Invariants:
//  1. Only the functions in the table below are called, and only through it:
//     the library carries no reference to a libgsf or GLib symbol, so the
//     dynamic loader never maps them at start-up. (Type macros such as
//     GSF_OUTPUT() or G_OBJECT_GET_CLASS() call GObject functions or test
//     types at run time; the glue uses plain casts instead.)
//  2. The library is opened at most once per process and never closed: the
//     GObject types we register with it live as long as the process.
//  3. A failure to open it, or a missing function, is remembered and raised
//     as StorageError on every later attempt; nothing half-loaded is used.
//
// This header includes libgsf's and only the storage layer's .cpp files use
// it.
#pragma once

#include <gsf/gsf.h>

#include <string>

// Every function the storage layer calls. The types come from the headers
// (decltype does not reference the symbol), so a call through the table is
// checked exactly as a direct call would be.
#define TQ_GSF_FUNCTIONS(X)             \
    X(gsf_init)                         \
    X(gsf_input_get_type)               \
    X(gsf_output_get_type)              \
    X(gsf_infile_msole_get_type)        \
    X(gsf_infile_msole_new)             \
    X(gsf_infile_msole_get_class_id)    \
    X(gsf_infile_num_children)          \
    X(gsf_infile_name_by_index)         \
    X(gsf_input_read)                   \
    X(gsf_input_seek)                   \
    X(gsf_input_set_size)               \
    X(gsf_input_size)                   \
    X(gsf_outfile_msole_new_full)       \
    X(gsf_outfile_msole_set_class_id)   \
    X(gsf_outfile_new_child)            \
    X(gsf_output_close)                 \
    X(gsf_output_is_closed)             \
    X(gsf_output_set_error)             \
    X(gsf_output_write)                 \
    X(g_error_free)                     \
    X(g_free)                           \
    X(g_malloc)                         \
    X(g_log_set_handler)                \
    X(g_object_new)                     \
    X(g_object_unref)                   \
    X(g_strerror)                       \
    X(g_type_check_instance_is_a)       \
    X(g_type_class_peek_parent)         \
    X(g_type_register_static_simple)

namespace tq {

struct GsfApi {
#define TQ_GSF_MEMBER(name) decltype(&::name) name = nullptr;
    TQ_GSF_FUNCTIONS(TQ_GSF_MEMBER)
#undef TQ_GSF_MEMBER
};

// The table, opening the library on the first call. Raises StorageError
// ("<soname> could not be loaded: <reason>") when the library or one of its
// functions cannot be found.
const GsfApi& LoadGsf();

// The table once LoadGsf has succeeded: every libgsf object in existence
// proves that it has.
const GsfApi& Gsf();

// Whether this process has opened the library (OCLStorage::
// CompoundFileLibraryLoaded).
bool GsfLoaded();

// Test seam (OCLStorage::SetCompoundFileLibrary): makes LoadGsf open `name`
// instead of the build's libgsf soname. Effective only before the library
// was first opened.
void SetGsfLibraryName(std::string name);

}  // namespace tq
