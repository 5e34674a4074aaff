# Applies the sanitizer chosen with ZANST_SANITIZE to everything built after this point.
if(ZANST_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZANST_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ZANST_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZANST_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Fuzzing instruments every library for coverage; only the fuzz targets link libFuzzer's main.
if(ZANST_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
