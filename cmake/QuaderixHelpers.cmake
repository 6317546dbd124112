# Shared compile settings and the one helper that registers a test binary.

add_library(quaderix_warnings INTERFACE)
target_compile_options(quaderix_warnings INTERFACE -Wall -Wextra)
if(QUADERIX_WERROR)
  target_compile_options(quaderix_warnings INTERFACE -Werror)
endif()
if(QUADERIX_SANITIZE)
  target_compile_options(quaderix_warnings INTERFACE
    -fsanitize=${QUADERIX_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quaderix_warnings INTERFACE -fsanitize=${QUADERIX_SANITIZE})
endif()

# quaderix_add_test(NAME SOURCES files... LIBS targets... [LABELS labels...])
# Builds one GoogleTest binary and registers each of its tests with CTest.
function(quaderix_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quaderix_warnings GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUADERIX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()
