# Warnings, sanitizers and the helpers that every module's CMakeLists uses.

add_library(klr_options INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(klr_options INTERFACE -Wall -Wextra -Wpedantic)
  if(KLR_WERROR)
    target_compile_options(klr_options INTERFACE -Werror)
  endif()
endif()

if(KLR_SANITIZE)
  add_compile_options(-fsanitize=${KLR_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${KLR_SANITIZE})
  if(KLR_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# The test executables labelled "threads": what the ThreadSanitizer build needs to build.
add_custom_target(klr_threads_tests)

# klr_add_gtest(<target> [QT] LABEL <labels...> SOURCES <files...> LIBS <libs...>)
# One GoogleTest executable; each test case becomes its own ctest entry.
# Qt tests always run on the offscreen platform (the shared main sets it).
function(klr_add_gtest target)
  cmake_parse_arguments(ARG "QT" "TIMEOUT" "LABEL;SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  if(ARG_QT)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common/qt_test_main.cpp)
    target_link_libraries(${target} PRIVATE GTest::gtest Qt6::Widgets)
  else()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${target} PRIVATE klr_options ${ARG_LIBS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  # gtest_discover_tests flattens list-valued properties, so the labels (possibly several,
  # e.g. "engine;threads") are set by a file that ctest reads after the discovered tests.
  set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  # A regression test (suite name starting with "Regress") also carries the label regress.
  file(WRITE ${labels_file}
       "foreach(t IN LISTS ${target}_TESTS)\n"
       "  set(l \"${ARG_LABEL}\")\n"
       "  if(t MATCHES \"^(.*/)?Regress\")\n"
       "    list(APPEND l regress)\n"
       "  endif()\n"
       "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"\${l}\")\n"
       "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
  if("threads" IN_LIST ARG_LABEL)
    add_dependencies(klr_threads_tests ${target})
  endif()
endfunction()
