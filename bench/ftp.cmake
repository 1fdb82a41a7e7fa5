# Background checks against a server that answers slowly, the window's input
# latency meanwhile, replies waited for, and a large listing: ours against curl.
ornbrook_bench(bench_live_checks SOURCES check/LiveCheckBench.cpp LIBS ui model ftp)
target_compile_definitions(bench_live_checks PRIVATE
    ORNBROOK_EXE="$<TARGET_FILE:ornbrook>"
    ORNBROOK_SLOW_FTPD="${CMAKE_CURRENT_SOURCE_DIR}/slow_ftpd.py")
add_dependencies(bench_live_checks ornbrook)
