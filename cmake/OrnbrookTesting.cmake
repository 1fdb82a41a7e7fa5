find_package(GTest REQUIRED)

# ornbrook_test(NAME LABEL <layer> SOURCES ... LIBS ... [QT])
# One test executable is one CTest test, labelled with its layer so that
# `ctest -L ftp` runs one layer. QT gives it a QApplication (offscreen in CI).
function(ornbrook_test name)
    cmake_parse_arguments(T "QT" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_QT)
        target_link_libraries(${name} PRIVATE ${T_LIBS} test_support_qt GTest::gtest GTest::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gmock GTest::gtest_main)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    # No test reaches the desktop's session bus: a window under test would show
    # its notices there. Tests of notifications start a bus of their own.
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/ornbrook-tests-have-no-session-bus")
endfunction()
