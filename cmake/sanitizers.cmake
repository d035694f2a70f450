# Sanitizer flags for the whole build, from ZORSCK_SANITIZE.
if(ZORSCK_SANITIZE)
  add_compile_options(-fsanitize=${ZORSCK_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ZORSCK_SANITIZE})
  if(ZORSCK_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
