# The service left alone: wake-ups, CPU time and memory of `ornbrook --watch`.
if(NOT TARGET ftp_test_fixtures)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fixtures ${CMAKE_BINARY_DIR}/tests/fixtures)
endif()
ornbrook_bench(bench_app_watch_idle SOURCES ${CMAKE_CURRENT_LIST_DIR}/app/WatchIdleBench.cpp
    LIBS model test_support ftp_test_fixtures)
target_compile_definitions(bench_app_watch_idle PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_app_watch_idle ornbrook)
