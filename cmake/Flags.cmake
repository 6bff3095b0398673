# One interface target carries the language standard, the warnings and the
# hardening flags; every target of the project links it.
add_library(veruzadu_flags INTERFACE)
target_compile_features(veruzadu_flags INTERFACE cxx_std_20)
target_compile_options(veruzadu_flags INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2
  -fstack-protector-strong
  $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
target_link_options(veruzadu_flags INTERFACE -Wl,-z,relro,-z,now)
# The warnings above are kept clean for GCC; other compilers (the clang fuzz
# and sanitizer builds) warn about other things and keep them as warnings.
if(VERUZADU_WERROR)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(veruzadu_flags INTERFACE -Werror)
  else()
    message(STATUS "VERUZADU_WERROR: ${CMAKE_CXX_COMPILER_ID} warnings stay warnings")
  endif()
endif()
target_include_directories(veruzadu_flags INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)

if(VERUZADU_SANITIZE AND VERUZADU_TSAN)
  message(FATAL_ERROR "VERUZADU_SANITIZE and VERUZADU_TSAN exclude each other")
endif()
if(VERUZADU_SANITIZE)
  target_compile_options(veruzadu_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(veruzadu_flags INTERFACE -fsanitize=address,undefined)
endif()
if(VERUZADU_TSAN)
  target_compile_options(veruzadu_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(veruzadu_flags INTERFACE -fsanitize=thread)
endif()

configure_file(${PROJECT_SOURCE_DIR}/cmake/Versao.h.in ${PROJECT_BINARY_DIR}/generated/Versao.h @ONLY)
