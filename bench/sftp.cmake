# `ornbrook --check` of a 10,000-name folder over SFTP against OpenSSH's sftp -b.
if(NOT TARGET sftp_test_fixtures)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fixtures ${CMAKE_BINARY_DIR}/tests/fixtures)
endif()
ornbrook_bench(bench_sftp_check SOURCES sftp/SftpCheckBench.cpp
    LIBS sftp_test_fixtures bench_process_timing)
target_compile_definitions(bench_sftp_check PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_sftp_check ornbrook)
