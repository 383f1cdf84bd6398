if(TARGET klr_link)
  klr_add_bench(bench_fetch SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fetch.cpp LIBS klr_link_internal)
endif()
