# Delay-import libraries of system DLLs for one executable, made just before it links:
# each function of those DLLs that its objects and libraries call is bound on its first
# call instead of when the process starts. Run as cmake -P with NM, DLLTOOL, INPUTS (the
# object files and static libraries linked, ';'-separated), DLLS (names without .dll),
# IMPORT_DIR (mingw's import libraries, lib<name>.a) and OUTPUT_DIR. Writes there one
# lib<name>-delay.a per DLL that is called, and delayed.rsp: the linker's options that
# take them, each function named with -u. ld keeps a delay-import thunk only when its
# own name is wanted (a call through the __imp_ pointer alone leaves it out, and the
# pointer then holds zero), so every function in the libraries is named; a function
# that was not named is not in them either, and comes from the ordinary import library.
cmake_minimum_required(VERSION 3.20)

function(symbols_of file kind out)
  execute_process(COMMAND ${NM} ${file} OUTPUT_VARIABLE listing ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${file} failed")
  endif()
  string(REGEX MATCHALL " ${kind} __imp__[^\n]+" found "${listing}")
  list(TRANSFORM found REPLACE "^ ${kind} __imp__" "")
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(wanted "")
foreach(input IN LISTS INPUTS)
  symbols_of(${input} U called)
  list(APPEND wanted ${called})
endforeach()
list(REMOVE_DUPLICATES wanted)

file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(options "")
foreach(dll IN LISTS DLLS)
  symbols_of(${IMPORT_DIR}/lib${dll}.a I exports)
  set(delayed ${exports})
  list(FILTER delayed INCLUDE REGEX ".")
  set(used "")
  foreach(name IN LISTS delayed)
    if(name IN_LIST wanted)
      list(APPEND used ${name})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES used)
  list(SORT used)
  set(library ${OUTPUT_DIR}/lib${dll}-delay.a)
  file(REMOVE ${library})
  if(NOT used)
    continue()
  endif()
  list(JOIN used "\n" lines)
  file(WRITE ${OUTPUT_DIR}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${lines}\n")
  # -k: the DLL exports the names without the stdcall suffix that the calls carry.
  # dlltool names its symbols and members after the output's path: a bare name, so
  # that two checkouts link the same bytes.
  execute_process(COMMAND ${DLLTOOL} -k --input-def ${dll}.def --dllname ${dll}.dll --output-delaylib lib${dll}-delay.a
                  WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} could not make ${library}")
  endif()
  foreach(name IN LISTS used)
    string(APPEND options "-u _${name}\n")
  endforeach()
  string(APPEND options "${library}\n")
endforeach()
file(WRITE ${OUTPUT_DIR}/delayed.rsp.new "${options}")
file(COPY_FILE ${OUTPUT_DIR}/delayed.rsp.new ${OUTPUT_DIR}/delayed.rsp ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT_DIR}/delayed.rsp.new)
