# Redraw of the main window with a large directory against a plain QListWidget.
ornbrook_bench(bench_ui_redraw SOURCES ${CMAKE_CURRENT_LIST_DIR}/UiRedrawBench.cpp LIBS ui)
# The file pane: a check that changes 10 of 100,000 rows, refilled against updated in place.
ornbrook_bench(bench_files_pane SOURCES ${CMAKE_CURRENT_LIST_DIR}/FilesPaneBench.cpp LIBS ui)
