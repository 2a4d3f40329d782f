# tq_link_store_statically(<target> [COMPILER])
#
# Links the store (and with COMPILER the compiler) into an executable from the
# same objects the shared libraries are made of, for a program whose start-up
# time and memory matter more than sharing pages with other processes: the
# tessaro command. Such a program
#  - holds libstdc++ and libgcc too and keeps only the functions it reaches,
#    so the dynamic loader has little more to do than map libc;
#  - carries the shared library's soname, so that a library built against
#    libtqstore.so finds its dependency already loaded (this program) instead
#    of loading a second store into the process. The program exports none of
#    the store's C++ symbols, so such a library fails to load before any of
#    its code runs, and DynamicLibrary says why;
#  - exports nothing else either: the store's own C entry points are found
#    through DynamicLibrary::Self from the table the library fills at load;
#  - with lld, has the functions a short run reaches (cmake/tessaro.order,
#    made by scripts/tessaro-order) side by side, so the kernel maps a few
#    hundred kilobytes of its code instead of nearly all of it. Without lld,
#    its relative relocations are at least packed (DT_RELR), which saves
#    reading a table of them at every start.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" TQ_LINKER_LLD)
check_linker_flag(CXX "-Wl,-z,pack-relative-relocs" TQ_LINKER_RELR)

function(tq_link_store_statically target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "COMPILER" "" "")
  if(arg_COMPILER)
    target_link_libraries(${target} PRIVATE tqcompile_objects)
  endif()
  target_link_libraries(${target} PRIVATE tqstore_objects
                                          $<LINK_LIBRARY:WHOLE_ARCHIVE,tqplatform>
                                          PkgConfig::FFI ${CMAKE_DL_LIBS})
  target_link_options(${target} PRIVATE
    -static-libstdc++ -static-libgcc -Wl,--gc-sections
    -Wl,-soname,libtqstore.so.${PROJECT_VERSION_MAJOR})
  set(order ${PROJECT_SOURCE_DIR}/cmake/tessaro.order)
  if(TQ_LINKER_LLD)
    target_link_options(${target} PRIVATE -fuse-ld=lld
      -Wl,--symbol-ordering-file=${order} -Wl,--no-warn-symbol-ordering)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${order})
  elseif(TQ_LINKER_RELR)
    target_link_options(${target} PRIVATE -Wl,-z,pack-relative-relocs)
  endif()
endfunction()
