find_package(GTest REQUIRED)

# What each test took (cmake/test-durations.txt, written by scripts/test-timeouts)
# in the build of this kind; its time limit is five times that, at least 30 s.
# A test not measured yet gets 120 s.
if(ORNBROOK_TSAN)
    set(ornbrook_duration_column 3)
elseif(ORNBROOK_SANITIZE)
    set(ornbrook_duration_column 2)
else()
    set(ornbrook_duration_column 1)
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/cmake/test-durations.txt)
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/test-durations.txt ornbrook_durations REGEX "^[a-z]")

function(ornbrook_test_timeout name out)
    set(timeout 120)
    foreach(line ${ornbrook_durations})
        string(REGEX MATCHALL "[^ \t]+" fields "${line}")
        list(GET fields 0 test)
        if(test STREQUAL name)
            list(GET fields ${ornbrook_duration_column} seconds)
            if(seconds MATCHES "^([0-9]+)\\.([0-9])$")
                # Tenths of a second, five times over, rounded up to whole seconds.
                math(EXPR timeout "(5 * (${CMAKE_MATCH_1} * 10 + ${CMAKE_MATCH_2}) + 9) / 10")
                if(timeout LESS 30)
                    set(timeout 30)
                endif()
            endif()
            break()
        endif()
    endforeach()
    set(${out} ${timeout} PARENT_SCOPE)
endfunction()

# Every test program, and those of one label: what `make asan` and `make tsan` build.
add_custom_target(test_programs)

# ornbrook_test(NAME LABEL <layer> SOURCES ... LIBS ... [QT])
# One test executable is one CTest test, labelled with its layer so that
# `ctest -L ftp` runs one layer. QT gives it a QApplication (offscreen in CI).
function(ornbrook_test name)
    cmake_parse_arguments(T "QT" "LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_QT)
        target_link_libraries(${name} PRIVATE ${T_LIBS} test_support_qt GTest::gtest GTest::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gmock GTest::gtest_main)
    endif()
    if(NOT TARGET test_programs_${T_LABEL})
        add_custom_target(test_programs_${T_LABEL})
        add_dependencies(test_programs test_programs_${T_LABEL})
    endif()
    add_dependencies(test_programs_${T_LABEL} ${name})
    ornbrook_test_timeout(${name} timeout)
    add_test(NAME ${name} COMMAND ${name})
    # No test reaches the desktop's session bus: a window under test would show
    # its notices there. Tests of notifications start a bus of their own.
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${timeout}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/ornbrook-tests-have-no-session-bus")
endfunction()
