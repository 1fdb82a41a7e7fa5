ornbrook_bench(bench_model_merge SOURCES model/MergeBench.cpp LIBS model test_support)
if(NOT TARGET ftp_test_fixtures)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/fixtures ${CMAKE_BINARY_DIR}/tests/fixtures)
endif()
ornbrook_bench(bench_model_datafile SOURCES model/DataFileBench.cpp
    LIBS model test_support ftp_test_fixtures bench_process_timing)
target_compile_definitions(bench_model_datafile PRIVATE ORNBROOK_EXE="$<TARGET_FILE:ornbrook>")
add_dependencies(bench_model_datafile ornbrook)
ornbrook_bench(bench_model_file_store SOURCES model/FileStoreBench.cpp LIBS model test_support)
