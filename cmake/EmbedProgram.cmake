# Turns the device program source INPUT into a C++ file OUTPUT that defines
# vramcheck::kDeviceProgram.
file(READ ${INPUT} source)
set(delimiter "VRAMCHECK_CL")
string(FIND "${source}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter")
endif()
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"kernels/device_program.h\"\n\n"
  "namespace vramcheck {\n\n"
  "const std::string_view kDeviceProgram = R\"${delimiter}(${source})${delimiter}\";\n\n"
  "}  // namespace vramcheck\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
