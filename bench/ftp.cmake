# One check of a 10,000-name directory on pyftpdlib: our checker against curl,
# both as whole processes; and the same over explicit TLS on the scripted server.
if(NOT TARGET ftp_test_fixtures)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fixtures ${CMAKE_BINARY_DIR}/tests/fixtures)
endif()
add_library(bench_process_timing STATIC ftp/ProcessTiming.cpp)
add_executable(ftp_check_once ftp/CheckOnce.cpp)
target_link_libraries(ftp_check_once PRIVATE ftp)
ornbrook_bench(bench_ftp_check SOURCES ftp/CheckBench.cpp LIBS ftp_test_fixtures bench_process_timing)
add_dependencies(bench_ftp_check ftp_check_once)
target_compile_definitions(bench_ftp_check
    PRIVATE ORNBROOK_CHECK_ONCE="$<TARGET_FILE:ftp_check_once>")
target_compile_definitions(bench_ftp_check PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_ftp_check ornbrook)
ornbrook_bench(bench_ftp_tls_check SOURCES ftp/TlsCheckBench.cpp
    LIBS ftp_test_fixtures bench_process_timing)
target_compile_definitions(bench_ftp_tls_check PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_ftp_tls_check ornbrook)
