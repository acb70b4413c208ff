if(SPIQLM_SANITIZE)
  add_compile_options(-fsanitize=${SPIQLM_SANITIZE} -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${SPIQLM_SANITIZE})
endif()
