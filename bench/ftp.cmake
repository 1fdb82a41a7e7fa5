# Background checks against a server that answers slowly, the window's input
# latency meanwhile, replies waited for, and a large listing: ours against curl.
ornbrook_bench(bench_live_checks SOURCES check/LiveCheckBench.cpp
    LIBS ui model ftp bench_process_timing)
target_compile_definitions(bench_live_checks PRIVATE
    ORNBROOK_EXE="$<TARGET_FILE:ornbrook>"
    ORNBROOK_SLOW_FTPD="${CMAKE_CURRENT_SOURCE_DIR}/slow_ftpd.py")
add_dependencies(bench_live_checks ornbrook)

# `ornbrook --check` of a 10,000-name directory over explicit TLS against curl.
if(NOT TARGET ftp_test_fixtures)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fixtures ${CMAKE_BINARY_DIR}/tests/fixtures)
endif()
ornbrook_bench(bench_ftp_tls_check SOURCES ftp/TlsCheckBench.cpp
    LIBS ftp_test_fixtures bench_process_timing)
target_compile_definitions(bench_ftp_tls_check PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_ftp_tls_check ornbrook)

# Downloads of one 200 MB file and of 1,000 files of 10 kB from pyftpdlib, against curl.
ornbrook_bench(bench_ftp_download SOURCES ftp/DownloadBench.cpp
    LIBS check ftp_test_fixtures bench_process_timing)

# `ornbrook --check` of a 1,111-folder tree at depth 3 against curl and the fewest replies.
ornbrook_bench(bench_tree_check SOURCES check/TreeCheckBench.cpp
    LIBS model bench_process_timing)
target_compile_definitions(bench_tree_check PRIVATE
    ORNBROOK_EXE="$<TARGET_FILE:ornbrook>"
    ORNBROOK_SLOW_FTPD="${CMAKE_CURRENT_SOURCE_DIR}/slow_ftpd.py")
add_dependencies(bench_tree_check ornbrook)
