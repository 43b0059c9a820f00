# Lints the generated manual page with mandoc and groff: both must have
# nothing to say. Arguments: -DPAGE=<page> -DMANDOC=<mandoc> -DGROFF=<groff>.
foreach(tool MANDOC GROFF)
  if(NOT ${tool})
    message("${tool} is not installed: cannot lint the manual page")
    return()
  endif()
endforeach()

execute_process(COMMAND ${MANDOC} -T lint ${PAGE}
  RESULT_VARIABLE mandoc_status OUTPUT_VARIABLE mandoc_out
  ERROR_VARIABLE mandoc_out)
execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE}
  RESULT_VARIABLE groff_status OUTPUT_VARIABLE groff_out
  ERROR_VARIABLE groff_out)
if(NOT mandoc_status EQUAL 0 OR NOT mandoc_out STREQUAL "" OR
   NOT groff_status EQUAL 0 OR NOT groff_out STREQUAL "")
  message(FATAL_ERROR "mandoc -T lint (${mandoc_status}):\n${mandoc_out}\n"
                      "groff -man -ww -z (${groff_status}):\n${groff_out}")
endif()
