# d2t_add_fuzzer(NAME n SOURCES ... LIBS ...): a libFuzzer program, built
# only in a fuzz configuration (clang, -DD2T_FUZZ=ON). The program itself is
# compiled and linked with the fuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; the libraries it tests are instrumented when
# the configuration passes "-fsanitize=fuzzer-no-link,address,undefined" in
# CMAKE_CXX_FLAGS (scripts/fuzz does). Seed corpora live in
# <folder>/corpus/<name>/; <build>/fuzz_targets.txt lists every target
# with its seed folder for scripts/fuzz.
include_guard(GLOBAL)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "D2T_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()

function(d2t_add_fuzzer)
  set(D2T_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE ${D2T_FUZZ_FLAGS})
  target_link_options(${F_NAME} PRIVATE ${D2T_FUZZ_FLAGS})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  # One line per target, name and seed folder, for scripts/fuzz.
  set_property(GLOBAL APPEND PROPERTY D2T_FUZZ_TARGETS
               "${F_NAME} ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${F_NAME}")
  get_property(all GLOBAL PROPERTY D2T_FUZZ_TARGETS)
  list(JOIN all "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${text}\n")
endfunction()
