# corvane_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one Qt Test executable and registers it with CTest, headless.
function(corvane_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt5::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT 300
    LABELS "${ARG_LABELS}")
endfunction()
