set(SPIQLM_WARNINGS -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
  -Wcast-align -Wnon-virtual-dtor -Wold-style-cast -Wnull-dereference -Werror)

function(spiqlm_warnings target)
  target_compile_options(${target} PRIVATE ${SPIQLM_WARNINGS})
endfunction()
