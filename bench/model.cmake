ornbrook_bench(bench_model_merge SOURCES model/MergeBench.cpp LIBS model test_support)
ornbrook_bench(bench_model_datafile SOURCES model/DataFileBench.cpp LIBS model test_support)
