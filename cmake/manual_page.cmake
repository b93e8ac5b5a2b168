# Makes the manual page: packaging/telvario.1.in with the client's version and the sections its
# command line gives (telvario --manual), so that the page and --help never tell two stories.
#   cmake -DCLIENT=telvario -DTEMPLATE=telvario.1.in -DVERSION=1.0.0.4 -DPAGE=telvario.1 -P ...
# (The project's policies, so that "@NAME@" in this script is text, not a variable's value.)
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${CLIENT}" --manual OUTPUT_VARIABLE sections RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR sections STREQUAL "")
  message(FATAL_ERROR "telvario --manual failed (${status})")
endif()
file(READ "${TEMPLATE}" page)
string(FIND "${page}" "@MANUAL_SECTIONS@\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${TEMPLATE} has no @MANUAL_SECTIONS@ line")
endif()
string(REPLACE "@MANUAL_SECTIONS@\n" "${sections}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE "${PAGE}.new" "${page}")
file(RENAME "${PAGE}.new" "${PAGE}")
