# Redraw of the main window with a large directory against a plain QListWidget.
ornbrook_bench(bench_ui_redraw SOURCES ${CMAKE_CURRENT_LIST_DIR}/UiRedrawBench.cpp LIBS ui)
