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

# quaderix_add_test(NAME SOURCES files... LIBS targets... [LABEL label])
# Builds one GoogleTest binary and registers each of its tests with CTest under one
# label (test discovery flattens a list of labels, so one label per binary).
function(quaderix_add_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quaderix_warnings GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT 300)
endfunction()

# quaderix_default_settings(TARGET)
# Puts the folder's MainConfig.ini next to the built TARGET when none is there yet; an
# existing one, perhaps edited by the user, is never overwritten.
function(quaderix_default_settings target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/MainConfig.ini
            -DDESTINATION=$<TARGET_FILE_DIR:${target}>/MainConfig.ini
            -P ${PROJECT_SOURCE_DIR}/cmake/CopyIfMissing.cmake)
endfunction()
