# spihost on the emulated CPU decodes the sample through the 32-bit DLL, by name and from
# memory, into the same bytes as the native spihost with the native module.
#   cmake -DEMULATOR=... -DHOST=... -DREFERENCE=... -DPLUGIN=... -DSAMPLE=... -DOUT=... -P this
# -f: the run before left its outputs, which spihost keeps unless forced.
execute_process(COMMAND ${REFERENCE} decode -f -o ${OUT}.native.bmp ${SAMPLE}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the native spihost exited ${result}")
endif()
file(READ ${OUT}.native.bmp want HEX)
foreach(mode name memory)
  set(args decode --plugin ${PLUGIN} -o ${OUT}.${mode}.bmp ${SAMPLE})
  if(mode STREQUAL memory)
    list(APPEND args --memory)
  endif()
  file(REMOVE ${OUT}.${mode}.bmp)
  execute_process(COMMAND ${EMULATOR} ${HOST} ${args} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "spihost decode (${mode}) exited ${result}")
  endif()
  file(READ ${OUT}.${mode}.bmp got HEX)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "the decode by ${mode} differs from the native one")
  endif()
  message(STATUS "decode by ${mode}: the native bytes")
endforeach()
