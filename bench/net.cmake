# Two asynchronous sockets exchanging 10 MB on loopback, against a plain blocking
# socket pair in the same run.
ornbrook_bench(bench_net_throughput SOURCES ${CMAKE_CURRENT_LIST_DIR}/NetThroughput.cpp
    LIBS net Qt6::Core Threads::Threads)
