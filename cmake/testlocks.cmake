# mixtally_test_locks(<list> <lock>... [MATCHING <regex>])
# Gives the tests that gtest_discover_tests named in the variable <list> --
# or those of them whose names match <regex> -- the resource locks, once
# CTest has discovered them. Set at configure time, a list-valued property
# would be split into words by gtest_discover_tests, which keeps only the
# first. A later call for the same test replaces its locks.
function(mixtally_test_locks list)
  cmake_parse_arguments(L "" "MATCHING" "" ${ARGN})
  set(_locks "${L_UNPARSED_ARGUMENTS}")
  get_property(_n DIRECTORY PROPERTY MIXTALLY_LOCK_FILES)
  if(NOT _n)
    set(_n 0)
  endif()
  math(EXPR _n "${_n} + 1")
  set_property(DIRECTORY PROPERTY MIXTALLY_LOCK_FILES ${_n})
  set(_file ${CMAKE_CURRENT_BINARY_DIR}/locks_${_n}.cmake)
  if(L_MATCHING)
    file(WRITE ${_file} "foreach(_t IN LISTS ${list})\n"
      "  if(\"\${_t}\" MATCHES \"${L_MATCHING}\")\n"
      "    set_tests_properties(\"\${_t}\" PROPERTIES RESOURCE_LOCK \"${_locks}\")\n"
      "  endif()\nendforeach()\n")
  else()
    file(WRITE ${_file} "foreach(_t IN LISTS ${list})\n"
      "  set_tests_properties(\"\${_t}\" PROPERTIES RESOURCE_LOCK \"${_locks}\")\nendforeach()\n")
  endif()
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
endfunction()
