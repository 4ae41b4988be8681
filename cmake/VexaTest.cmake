# vexa_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>])
# Builds one Qt Test executable and registers it with CTest. Every test runs on the
# offscreen platform so that widgets can be made without a display.
function(vexa_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        # The settings a test writes (recent folders, dialog folders) stay in the build tree.
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VEXA_TEST_BIN_DIR=${CMAKE_BINARY_DIR};XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-settings/${T_NAME}")
endfunction()
